#pragma once
// The record of an operation in progress, kept in a small text file beside
// the tables it changes so that the next run can finish or undo it: one
// `key=value` a line in the order written (values with `\` and line ends
// escaped), `#` lines for the person who finds the file, and a last line
// `end`. A record without its `end` was cut short while it was written,
// before the operation it describes began.

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace xb {

class StepRecord {
public:
    void add(const std::string& key, const std::string& value);
    void add(const std::string& key, long long value) { add(key, std::to_string(value)); }

    // The file's text, with `comment` as its first line.
    std::string text(const std::string& comment) const;
    // Nothing for a text without its `end` line.
    static std::optional<StepRecord> parse(const std::string& text);

    const std::vector<std::pair<std::string, std::string>>& entries() const { return entries_; }
    // The first value of `key`, or empty.
    std::string value(const std::string& key) const;
    // The first value of `key` as a whole number; nothing when missing or
    // not a number.
    std::optional<long long> number(const std::string& key) const;

private:
    std::vector<std::pair<std::string, std::string>> entries_;
};

// The steps of an operation by name, passed to a function a test installs
// to let other writers in between; nothing by default.
class StepHook {
public:
    using Function = std::function<void(const std::string& step)>;
    void set(Function f) { f_ = std::move(f); }
    void operator()(const char* step) const
    {
        if (f_)
            f_(step);
    }

private:
    Function f_;
};

// The whole of a small file; nothing when it cannot be read.
std::optional<std::string> readSmallFile(const std::string& path);

}  // namespace xb
