#pragma once
// The pseudo-terminal that stands in for the serial port, and its optional COMn entry in the
// per-user port directory.

#include <string>

// Opens a pseudo-terminal pair; returns the master (non-blocking) and the program side's path
// in `path`. The program side is opened and closed once, so that the master reports a hang-up
// until the program opens it: the test bus sends nothing while the port is closed.
// Returns -1 with `error` set on failure.
int OpenPseudoTerminal(std::string& path, std::string& error);

// The COMn entry: a symlink in the port directory to the program side.
class CPortEntry {
public:
    CPortEntry() = default;
    CPortEntry(const CPortEntry&) = delete;
    CPortEntry& operator=(const CPortEntry&) = delete;
    ~CPortEntry() { Remove(); }

    // Makes COM`number` point at `target`. An entry that points elsewhere is only replaced
    // with `force`. Returns false with `error` set.
    bool Create(int number, const std::string& target, bool force, std::string& error);

    // Removes the entry if it still points at our target.
    void Remove();

    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    std::string m_target;
};
