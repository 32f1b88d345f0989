#include "MailslotReader.h"

CMailslotReader::CMailslotReader() : m_slot(::CreateMailslotA("\\\\.\\mailslot\\rix_console", 0, 0, nullptr)) {}

std::vector<std::string> CMailslotReader::ReadAll() {
    std::vector<std::string> messages;
    DWORD next = MAILSLOT_NO_MESSAGE;
    while (m_slot && ::GetMailslotInfo(m_slot.get(), nullptr, &next, nullptr, nullptr) && next != MAILSLOT_NO_MESSAGE) {
        std::string message(next, '\0');
        DWORD got = 0;
        if (!::ReadFile(m_slot.get(), &message[0], next, &got, nullptr))
            break;
        message.resize(got);
        messages.push_back(message);
    }
    return messages;
}
