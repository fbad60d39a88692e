#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The sub-commands of kivimage. Each returns the process exit status: 0 success,
// 1 failure (message on standard error), 2 bad arguments.

struct CreateOptions {
    std::string m_strOutput;
    std::string m_strType; // name or number 0..8
    std::string m_strVersion;
    int64_t m_nFileType = -1; // -1: the usual word for the type
    int64_t m_nKindBits = -1; // -1: the bits that make a router image classify as its type
    bool m_bRaw = false;      // part data unchanged (no sample container or marker)
    std::string m_strUnlockCode = "00000000";
    uint32_t m_nBlockSize = 4096;
    uint32_t m_nAddress = 0;
    std::vector<std::string> m_Parts; // FILE[,address=A][,unlock=CODE][,block=N][,name=TEXT]
};

int RunCreate(const CreateOptions& options);
int RunInfo(const std::string& path, const std::string& expectedType);
int RunVerify(const std::string& path, const std::string& expectedType);
int RunSamples(const std::string& dir, uint32_t firmwareSize);

// Text for the help of `samples`: every sample with its version and unlock code.
std::string DescribeSamples();
// Names accepted for image types ("boot", "app", ... or 0..9).
std::string DescribeTypeNames();
