#pragma once
// The run's KISS log: one file, opened at start-up, appended to record by record.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "time/Clock.h"

namespace tavrik {

// <folder>/<MYCALL made file-name safe>_<ddmmyyyy_hhmm UTC>.kss
std::string KissLogName(const std::string& folder, std::string_view mycall, const DateTime& utc);

class KissLog {
  public:
    KissLog() = default;
    ~KissLog();
    KissLog(const KissLog&) = delete;
    KissLog& operator=(const KissLog&) = delete;

    // Opens the file for appending, creating it when missing: a log of the
    // same name from an earlier run in the same minute is kept, not truncated.
    // Returns an empty text on success, else why it failed.
    std::string Open(const std::string& path);
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

    // Appends the timestamp record and the frame record with one write, so the
    // pair reaches the operating system together before this returns. Returns
    // an empty text on success, else why it failed.
    std::string AppendFrame(std::string_view timestamp, std::span<const std::uint8_t> frame);
    // The same; offset is set to where the timestamp record begins in the file.
    std::string AppendFrame(std::string_view timestamp, std::span<const std::uint8_t> frame,
                            std::int64_t& offset);
    std::string AppendBytes(std::span<const std::uint8_t> bytes);

    // Bytes this run wrote; harmless to call twice.
    std::uint64_t BytesWritten() const { return written_; }
    void Close();
    // Closes the log and deletes the file when it is still empty (a run that
    // received nothing). Only a log this run opened is ever removed, and not
    // while another run has it open. Returns whether it was removed.
    bool RemoveIfEmpty();

  private:
    int fd_ = -1;
    std::string path_;
    std::uint64_t written_ = 0;
    bool existedBefore_ = false;
    bool opened_ = false;
};

} // namespace tavrik
