// Reading a batch's JSON records (batch.json, status.json, the merge's list of
// what it made) with a bound on their size: a record is a few KiB, so a file
// far larger is damage, refused before the parser spends memory on it.
#pragma once

#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

constexpr std::size_t kRecordLimit = std::size_t(4) << 20;  // 4 MiB

// The value of the record at `path`: null with `damage` empty when there is
// no such file (nor directory); a discarded value with `damage` ("PATH: why") when it cannot
// be read, is not a regular file, holds more than kRecordLimit bytes or is not JSON.
nlohmann::json readRecordFile(const std::string& path, std::string& damage);
