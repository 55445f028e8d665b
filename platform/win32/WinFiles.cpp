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

std::optional<std::string> WinFiles::Read(const std::string& path, std::size_t maxBytes) {
    const HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::optional<std::string> out;
    LARGE_INTEGER size{};
    if (GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size) && size.QuadPart >= 0 &&
        static_cast<unsigned long long>(size.QuadPart) <= maxBytes) {
        std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
        std::size_t got = 0;
        DWORD n = 0;
        while (got < bytes.size() &&
               ReadFile(file, bytes.data() + got, static_cast<DWORD>(bytes.size() - got), &n, nullptr) && n > 0)
            got += n;
        bytes.resize(got);
        out = std::move(bytes);
    }
    CloseHandle(file);
    return out;
}

}  // namespace tarnwell::platform
