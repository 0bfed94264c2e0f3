#pragma once
// What the companion programs (tools/) share on the command line: --help, -h
// and --version answered alike, usage errors on standard error with status 2,
// and standard output written in large pieces with its failure (a full disk,
// an I/O error) reported once and turned into status 1.
#include <string>
#include <string_view>

namespace tavrik {

class ToolIo {
  public:
    // program: the name its lines start with; usage: the --help text.
    ToolIo(std::string_view program, std::string_view usage) : program_(program), usage_(usage) {}

    // --help and -h write the usage text, --version the version line, both to
    // standard output: the exit status then (0, or 1 when it cannot be written);
    // -1 for any other argument.
    int Standard(std::string_view arg);
    // "program: why", then detail (the program's own lines, written as they
    // stand) and the usage text on standard error; returns 2.
    int Usage(const std::string& why, std::string_view detail = {}) const;
    // "program: why" on standard error; returns 1.
    int Fail(const std::string& why) const;

    // Writes text to standard output (buf is cleared); false from the first
    // failed write on, which is reported once.
    bool Write(std::string& buf);
    bool Write(std::string_view text);
    bool Ok() const { return ok_; }
    // status, or 1 when standard output could not be written.
    int Finish(int status) const { return ok_ ? status : (status == 0 ? 1 : status); }

  private:
    std::string program_;
    std::string_view usage_;
    bool ok_ = true;
};

} // namespace tavrik
