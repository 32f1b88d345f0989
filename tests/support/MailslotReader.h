#pragma once
// Plays the console program that reads the diagnostic log: owns the mailslot
// "\\.\mailslot\rix_console" for its lifetime and hands back each message as sent.
#include <string>
#include <vector>

#include "Handle.h"

class CMailslotReader {
public:
    CMailslotReader();
    bool IsOpen() const { return static_cast<bool>(m_slot); }
    // Every message waiting now, oldest first, each with all its bytes.
    std::vector<std::string> ReadAll();

private:
    CFileHandle m_slot;
};
