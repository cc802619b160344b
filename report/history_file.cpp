#include "report/history_file.h"

HistoryFileRead ReadHistoryFile(const char* path, std::vector<char>& bytes, FileResult* failure) {
    bool exists = false;
    uint64_t size = 0;
    FileResult result = FileSize(path, &exists, &size);
    if (result.ok && !exists) return HistoryFileRead::Missing;
    if (result.ok && size == 0) return HistoryFileRead::Empty;
    if (result.ok && size > kMaxHistoryBytes) return HistoryFileRead::TooLarge;
    size_t length = 0;
    if (result.ok) {
        bytes.resize(static_cast<size_t>(size));
        result = FileReadStart(path, bytes.data(), bytes.size(), &length);
    }
    if (!result.ok) {
        *failure = result;
        return HistoryFileRead::Failed;
    }
    bytes.resize(length);
    return HistoryFileRead::Read;
}
