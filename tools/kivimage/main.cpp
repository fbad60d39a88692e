// kivimage: builds, inspects and verifies upgrade images.
#include <CLI/CLI.hpp>

#include "images/CSampleImage.h"
#include "platform/CommandLine.h"
#include "tools/kivimage/ImageCommands.h"

int main(int argc, char** argv)
{
    UseUtf8Console();
    CUtf8Arguments arguments(argc, argv);
    CLI::App app{"Builds, inspects and verifies upgrade image files."};
    app.require_subcommand(1);
    app.footer(DescribeSamples());

    CreateOptions create;
    CLI::App* createCmd = app.add_subcommand("create", "Build an image from data files");
    createCmd->add_option("output", create.m_strOutput, "Image file to write")->required();
    createCmd->add_option("-t,--type", create.m_strType, "Image type: " + DescribeTypeNames())->required();
    createCmd->add_option("-V,--version", create.m_strVersion, "Version text of the image (empty: no version)");
    createCmd->add_option("--file-type", create.m_nFileType,
                          "File type word (default: 2 router, 1 firmware, 3 dashboard)");
    createCmd->add_option("--kind-bits", create.m_nKindBits,
                          "Kind bits word of a router image (default: the bits of --type)");
    createCmd->add_flag("--raw", create.m_bRaw,
                        "Keep part data unchanged: no sample container (router) or version marker (wireless)");
    createCmd->add_option("-u,--unlock", create.m_strUnlockCode, "Default unlock code (8 characters)");
    createCmd->add_option("-b,--block-size", create.m_nBlockSize, "Default block size")->check(CLI::PositiveNumber);
    createCmd->add_option("-a,--address", create.m_nAddress, "Default target address");
    createCmd
        ->add_option("-p,--part", create.m_Parts,
                     "Part: DATAFILE[,address=A][,unlock=CODE][,block=N][,name=TEXT] (repeat for more parts)")
        ->required();

    std::string infoPath;
    std::string infoExpect = "none";
    CLI::App* infoCmd = app.add_subcommand("info", "Show the header, the parts, the version and the type");
    infoCmd->add_option("image", infoPath, "Image file")->required();
    infoCmd->add_option("-e,--expect", infoExpect, "Expected type for classification (default: none = any)");

    std::string verifyPath;
    std::string verifyExpect = "none";
    CLI::App* verifyCmd = app.add_subcommand("verify", "Check every rule and checksum; exit 0 when valid");
    verifyCmd->add_option("image", verifyPath, "Image file")->required();
    verifyCmd->add_option("-e,--expect", verifyExpect, "Expected type (default: none = any)");

    std::string samplesDir;
    uint32_t firmwareSize = SampleImage::DEFAULT_FIRMWARE_SIZE;
    CLI::App* samplesCmd = app.add_subcommand("samples", "Write a complete set of sample images");
    samplesCmd->add_option("dir", samplesDir, "Directory (DIR/a and DIR/b are created)")->required();
    samplesCmd->add_option("--firmware-size", firmwareSize, "Total data bytes of the 5-part firmware")
        ->check(CLI::Range(1024u, 0x40000000u));
    samplesCmd->footer(DescribeSamples());

    try {
        app.parse(arguments.Count(), arguments.Values());
    } catch (const CLI::ParseError& e) {
        int status = app.exit(e);
        return status == 0 ? 0 : 2;
    }

    if (createCmd->parsed())
        return RunCreate(create);
    if (infoCmd->parsed())
        return RunInfo(infoPath, infoExpect);
    if (verifyCmd->parsed())
        return RunVerify(verifyPath, verifyExpect);
    return RunSamples(samplesDir, firmwareSize);
}
