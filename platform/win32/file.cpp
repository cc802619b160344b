// Data files on Windows: beside the executable, written with the wide-character
// calls (paths are kept in UTF-8) and flushed with FlushFileBuffers.
#include "platform/file.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

const char kFileLineEnd[] = "\r\n";
const char kFilePathSeparators[] = "\\/";

namespace {

FileResult Ok() { return FileResult{true, 0, ""}; }
FileResult Failed(const char* step, DWORD error) { return FileResult{false, static_cast<int32_t>(error), step}; }

bool ToWide(const char* text, wchar_t* out, int outSize) {
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, out, outSize) > 0;
}

// Shared for reading, writing and deleting: a spreadsheet or an editor that
// has the file open does not stop the next row, and the rows don't stop it.
HANDLE OpenShared(const char* path, DWORD access, DWORD disposition) {
    wchar_t wide[kFilePathSize];
    if (!ToWide(path, wide, static_cast<int>(kFilePathSize))) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(wide, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

FileResult FileDataPath(const char* fileName, char* path, size_t size) {
    wchar_t wide[kFilePathSize];
    const DWORD length = GetModuleFileNameW(nullptr, wide, static_cast<DWORD>(kFilePathSize));
    if (length == 0) return Failed("locate", GetLastError());
    if (length >= kFilePathSize) return Failed("locate", ERROR_INSUFFICIENT_BUFFER);
    wchar_t* slash = wcsrchr(wide, L'\\');
    if (slash == nullptr) return Failed("locate", ERROR_BAD_PATHNAME);
    slash[1] = L'\0';
    const int folderBytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, path, static_cast<int>(size), nullptr, nullptr);
    if (folderBytes <= 0) return Failed("locate", GetLastError());
    const size_t used = static_cast<size_t>(folderBytes) - 1;
    if (used + std::strlen(fileName) + 1 > size) return Failed("locate", ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(path + used, fileName, std::strlen(fileName) + 1);
    return Ok();
}

FileResult FileAppend(const char* path, const char* data, size_t size) {
    HANDLE file = OpenShared(path, GENERIC_WRITE, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) return Failed("open", GetLastError());
    LARGE_INTEGER before{};
    LARGE_INTEGER zero{};
    if (!GetFileSizeEx(file, &before) || !SetFilePointerEx(file, zero, nullptr, FILE_END)) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        return Failed("open", error);
    }
    DWORD written = 0;
    if (!WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) || written != size) {
        const DWORD error = written != size && GetLastError() == ERROR_SUCCESS ? ERROR_DISK_FULL : GetLastError();
        // Part of a row is taken back; should that fail too, the next row
        // still starts on a line of its own (the writer checks the last byte).
        if (written > 0 && SetFilePointerEx(file, before, nullptr, FILE_BEGIN)) SetEndOfFile(file);
        CloseHandle(file);
        return Failed("write", error);
    }
    if (!FlushFileBuffers(file)) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        return Failed("flush", error);
    }
    CloseHandle(file);
    return Ok();
}

FileResult FileReadTail(const char* path, char* buffer, size_t size, size_t* length) {
    *length = 0;
    HANDLE file = OpenShared(path, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? Ok() : Failed("open", error);
    }
    LARGE_INTEGER fileSize{};
    if (!GetFileSizeEx(file, &fileSize)) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        return Failed("read", error);
    }
    const LONGLONG wanted = fileSize.QuadPart > static_cast<LONGLONG>(size) ? static_cast<LONGLONG>(size)
                                                                            : fileSize.QuadPart;
    LARGE_INTEGER start{};
    start.QuadPart = fileSize.QuadPart - wanted;
    DWORD got = 0;
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) ||
        !ReadFile(file, buffer, static_cast<DWORD>(wanted), &got, nullptr)) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        return Failed("read", error);
    }
    CloseHandle(file);
    *length = got;
    return Ok();
}

FileResult FileSize(const char* path, bool* exists, uint64_t* size) {
    *exists = false;
    *size = 0;
    wchar_t wide[kFilePathSize];
    if (!ToWide(path, wide, static_cast<int>(kFilePathSize))) return Failed("open", ERROR_INVALID_NAME);
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (!GetFileAttributesExW(wide, GetFileExInfoStandard, &info)) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Ok() : Failed("open", error);
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return Failed("open", ERROR_DIRECTORY);
    *exists = true;
    *size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return Ok();
}

FileResult FileReadStart(const char* path, char* buffer, size_t size, size_t* length) {
    *length = 0;
    HANDLE file = OpenShared(path, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return Failed("open", GetLastError());
    while (*length < size) {
        const size_t left = size - *length;
        const DWORD wanted = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!ReadFile(file, buffer + *length, wanted, &got, nullptr)) {
            const DWORD error = GetLastError();
            CloseHandle(file);
            return Failed("read", error);
        }
        if (got == 0) break;
        *length += got;
    }
    CloseHandle(file);
    return Ok();
}

FileResult FileReplace(const char* path, const char* data, size_t size) {
    char temporary[kFilePathSize];
    const int length = std::snprintf(temporary, sizeof temporary, "%s.%lu.tmp", path,
                                     static_cast<unsigned long>(GetCurrentProcessId()));
    if (length < 0 || static_cast<size_t>(length) >= sizeof temporary) return Failed("open", ERROR_FILENAME_EXCED_RANGE);
    wchar_t wideTemporary[kFilePathSize];
    wchar_t widePath[kFilePathSize];
    if (!ToWide(temporary, wideTemporary, static_cast<int>(kFilePathSize)) ||
        !ToWide(path, widePath, static_cast<int>(kFilePathSize)))
        return Failed("open", ERROR_INVALID_NAME);
    HANDLE file = CreateFileW(wideTemporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Failed("open", GetLastError());
    FileResult result = Ok();
    for (size_t done = 0; done < size && result.ok;) {
        const size_t left = size - done;
        DWORD wrote = 0;
        if (!WriteFile(file, data + done, left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left), &wrote, nullptr))
            result = Failed("write", GetLastError());
        else if (wrote == 0)
            result = Failed("write", ERROR_DISK_FULL);
        done += wrote;
    }
    if (result.ok && !FlushFileBuffers(file)) result = Failed("flush", GetLastError());
    CloseHandle(file);
    if (result.ok && !MoveFileExW(wideTemporary, widePath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        result = Failed("rename", GetLastError());
    if (!result.ok) DeleteFileW(wideTemporary);
    return result;
}
