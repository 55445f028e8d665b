#include "platform/win32/WinFiles.h"

#include "platform/win32/WinText.h"

#include <windows.h>

namespace tarnwell::platform {

namespace {

std::wstring Expanded(const std::wstring& text) {
    const DWORD n = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (n == 0) return text;
    std::wstring out(n, L'\0');
    const DWORD m = ExpandEnvironmentStringsW(text.c_str(), out.data(), n);
    if (m == 0 || m > n) return text;
    out.resize(m - 1);
    return out;
}

}  // namespace

std::string WinFiles::HostsPath(const std::string& directory) {
    std::wstring dir = Expanded(Widen(directory.empty() ? "%SystemRoot%\\System32\\drivers\\etc" : directory));
    if (!dir.empty() && dir.back() != L'\\' && dir.back() != L'/') dir += L'\\';
    return Narrow(dir + L"hosts");
}

std::vector<std::string> WinFiles::SettingsPaths() const {
    return {Narrow(Expanded(L"%APPDATA%\\Tarnwell\\tarnwell.conf"))};
}

// CreateFileW opens no directory without FILE_FLAG_BACKUP_SEMANTICS (it
// fails with ERROR_ACCESS_DENIED), so a directory is told by its attributes
// first.
std::optional<ReadFault> WinFiles::ReadChunks(const std::string& path, const Take& take) {
    const std::wstring wide = Widen(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return ReadFault::Directory;
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND: return ReadFault::Missing;
            case ERROR_ACCESS_DENIED: return ReadFault::Denied;
            default: return ReadFault::Error;
        }
    }
    // A disk file only: a pipe or a device could block or never end.
    std::optional<ReadFault> fault;
    if (GetFileType(file) != FILE_TYPE_DISK) fault = ReadFault::Error;
    std::string chunk(kChunkBytes, '\0');
    DWORD n = 0;
    while (!fault) {
        if (!ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &n, nullptr)) fault = ReadFault::Error;
        else if (n == 0 || !take(std::string_view(chunk.data(), n))) break;  // 0 bytes read: the end
    }
    CloseHandle(file);
    return fault;
}

}  // namespace tarnwell::platform
