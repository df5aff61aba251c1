#include "platform/winsim/messages.h"

#include "platform/winsim/api_support.h"

#include <stdexcept>

namespace winsim {

MessageTables::MessageTables() {
    // The English texts of Windows' own tables, exactly as stored.
    system = {
        {0, L"The operation completed successfully.\r\n"},
        {2, L"The system cannot find the file specified.\r\n"},
        {3, L"The system cannot find the path specified.\r\n"},
        {5, L"Access is denied.\r\n"},
        {6, L"The handle is invalid.\r\n"},
        {8, L"Not enough memory resources are available to process this command.\r\n"},
        {14, L"Not enough memory resources are available to complete this operation.\r\n"},
        {21, L"The device is not ready.\r\n"},
        {29, L"The system cannot write to the specified device.\r\n"},
        {32, L"The process cannot access the file because it is being used by another process.\r\n"},
        {50, L"The request is not supported.\r\n"},
        {80, L"The file exists.\r\n"},
        {87, L"The parameter is incorrect.\r\n"},
        {111, L"The file name is too long.\r\n"},
        {112, L"There is not enough space on the disk.\r\n"},
        {122, L"The data area passed to a system call is too small.\r\n"},
        {126, L"The specified module could not be found.\r\n"},
        {127, L"The specified procedure could not be found.\r\n"},
        {145, L"The directory is not empty.\r\n"},
        {183, L"Cannot create a file when that file already exists.\r\n"},
        {193, L"%1 is not a valid Win32 application.\r\n"},
        {234, L"More data is available.\r\n"},
        {259, L"No more data is available.\r\n"},
        {1008, L"An attempt was made to reference a token that does not exist.\r\n"},
        {1053, L"The service did not respond to the start or control request in a timely fashion.\r\n"},
        {1056, L"An instance of the service is already running.\r\n"},
        {1060, L"The specified service does not exist as an installed service.\r\n"},
        {1061, L"The service cannot accept control messages at this time.\r\n"},
        {1062, L"The service has not been started.\r\n"},
        {1155, L"No application is associated with the specified file for this operation.\r\n"},
        {1157, L"One of the library files needed to run this application cannot be found.\r\n"},
        {1223, L"The operation was canceled by the user.\r\n"},
        {1307, L"This security ID may not be assigned as the owner of this object.\r\n"},
        {1314, L"A required privilege is not held by the client.\r\n"},
        {1812, L"The specified image file did not contain a resource section.\r\n"},
        {1813, L"The specified resource type cannot be found in the image file.\r\n"},
        {1814, L"The specified resource name cannot be found in the image file.\r\n"},
        // COM's own codes; E_FAIL's text has no final period on Windows.
        {0x80004005u, L"Unspecified error\r\n"},
        {0x80004001u, L"Not implemented\r\n"},
        {0x80004002u, L"No such interface supported\r\n"},
        {0x80010106u, L"Cannot change thread mode after it is set.\r\n"},
    };
    // wininet.dll's table: its texts end without a period.
    wininet = {
        {12001, L"No more handles could be generated at this time\r\n"},
        {12002, L"The operation timed out\r\n"},
        {12004, L"An internal error occurred in the Microsoft Internet extensions\r\n"},
        {12005, L"The URL is invalid\r\n"},
        {12007, L"The server name or address could not be resolved\r\n"},
        {12029, L"A connection with the server could not be established\r\n"},
        {12030, L"The connection with the server was terminated abnormally\r\n"},
        {12031, L"The connection with the server was reset\r\n"},
    };
}

void MessageTables::load(const nlohmann::json& s, Machine&) {
    if (s.is_null()) return;
    for (const char* table : {"system", "wininet"}) {
        if (!s.contains(table)) continue;
        auto& t = std::string(table) == "system" ? system : wininet;
        for (const auto& [code, text] : s[table].items()) {
            DWORD c = static_cast<DWORD>(std::stoll(code, nullptr, 0));
            if (text.is_null())
                t.erase(c);
            else
                t[c] = from_utf8(text.get<std::string>());
        }
    }
}

}  // namespace winsim
