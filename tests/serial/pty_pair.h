#pragma once
// A pseudo-terminal as a real serial port for the tests: the port opens the slave by its path,
// the test plays the other end of the line on the master.

#include <cstdint>
#include <string>
#include <vector>

namespace serialtest {

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& Path() const { return path_; }
    int Master() const { return master_; }

    // Sends bytes from the other end of the line.
    void Send(const std::vector<std::uint8_t>& bytes);
    // Reads what arrives at the other end until `count` bytes came or timeoutMs passed quietly.
    std::vector<std::uint8_t> Receive(std::size_t count, int timeoutMs);
    // Takes the line away as an unplugged adapter does.
    void Unplug();

private:
    int master_ = -1;
    std::string path_;
};

// Line settings as the other end of a pseudo-terminal sees them (TCGETS2 on the master).
struct PeerView {
    std::uint32_t bitRate = 0;
    bool crtscts = false;
    bool ixon = false;
    bool ixoff = false;
    bool parityEnabled = false;
    bool parityChecked = false;
    bool twoStopBits = false;
    int dataBits = 0;
    bool echo = true;
    bool canonical = true;
};
PeerView ReadPeerView(int master);

// Points XDG_CONFIG_HOME at a new private directory and returns it.
std::string UsePrivateConfigHome();

// Makes $XDG_CONFIG_HOME/Kestrom/ports/<name> a symlink to target.
void AddPortEntry(const std::string& name, const std::string& target);

} // namespace serialtest
