// How a read-back check is told: a table with a row per module of the image
// for people, the fields of the "verify" event for machines, and the reason a
// failed check gives at the end of the command.
#pragma once

#include "image/ReadBackCheck.h"

#include <nlohmann/json.hpp>

#include <string>

// "verified", "different" or "not-checked" (the memory was not read back).
const char* ReadBackResultName(const ReadBackCheck* check);

// The table: the image's name, a row per module (number, kind, length, CRC-32,
// result) and the result line, each line ending in '\n'.
std::string ReadBackTable(const ReadBackCheck& check, const std::string& imagePath);

// The first module that failed, in words, and how many more did: "module 2
// (digital-eeprom) differs at offset 1000 (1 byte), and 1 more module"; the
// check's error when it could not be made.
std::string ReadBackFailure(const ReadBackCheck& check);

// The "verify" event: result, reason ("" when verified), the upload asked
// for, and a row per module (none when `check` is null: nothing was read back).
nlohmann::ordered_json ReadBackEventFields(const ReadBackCheck* check, UploadKind kind, const std::string& reason);
