#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// One IPv4 address of one network interface of this machine.
struct NetInterface {
    std::string name;
    // Windows: the adapter's own name ("{GUID}"), which finds it as well as its friendly name
    // does. Empty on POSIX.
    std::string adapterName;
    std::array<uint8_t, 4> address{};
    int prefixLength = 0;               // 24 for 255.255.255.0
    std::array<uint8_t, 4> broadcast{}; // valid when hasBroadcast
    bool hasBroadcast = false;
    bool up = false;      // administratively up
    bool running = false; // up and with a link (carrier)
    bool loopback = false;

    // True when `target` lies in this address's subnet (the broadcast address included).
    bool Contains(const std::array<uint8_t, 4>& target) const;
    // The subnet as "192.168.1.0/24".
    std::string SubnetText() const;
    // "eth1 192.168.1.100/24", with " (down)" or " (no link)" when not running.
    std::string Describe() const;
};

// The IPv4 interfaces of this machine, read once from the system (getifaddrs; on Windows
// GetAdaptersAddresses, where an adapter goes by its friendly name). An interface with two
// addresses appears twice; interfaces without an IPv4 address are only named.
class CNetInterfaces {
public:
#ifdef _WIN32
    // Longest adapter name Windows gives (IF_MAX_STRING_SIZE).
    static constexpr size_t MAX_NAME_LENGTH = 256;
#else
    // Longest interface name the kernel accepts (IFNAMSIZ less the terminator).
    static constexpr size_t MAX_NAME_LENGTH = 15;
#endif

    CNetInterfaces() = default;
    // A fixed list (tests, and callers that filter); `otherNames` are interfaces without IPv4.
    explicit CNetInterfaces(std::vector<NetInterface> entries, std::vector<std::string> otherNames = {});

    // Reads the system's interfaces. On failure the list is empty and `*error` (when given)
    // holds the errno value.
    static CNetInterfaces ReadSystem(int* error = nullptr);

    const std::vector<NetInterface>& Entries() const { return m_Entries; }
    // First IPv4 entry of the interface `name` (or adapter name), or null.
    const NetInterface* Find(const std::string& name) const;
    // True when an interface of that name exists, with or without an IPv4 address.
    bool Exists(const std::string& name) const;
    // Entries that are up and not loopback.
    std::vector<NetInterface> UpNonLoopback() const;
    // Entries that are up (loopback included) and whose subnet holds `target`.
    std::vector<NetInterface> OnSubnetOf(const std::array<uint8_t, 4>& target) const;
    // Every entry, described one after the other ("lo 127.0.0.1/8, eth0 ..."), for errors.
    std::string DescribeAll() const;

private:
    std::vector<NetInterface> m_Entries;
    std::vector<std::string> m_OtherNames;
};
