// UTF-8, the encoding of every text of this system (file names, tags, settings): reading it a
// code point at a time, checking it, cutting it without splitting a character, writing it, and
// turning the older Windows encoding into it.
#pragma once

#include <cstddef>
#include <string>

class Utf8 {
public:
    // What Next gives for a byte that does not start a well-formed sequence.
    static constexpr char32_t kNotUtf8 = 0xFFFFFFFF;

    // The code point that starts at text[at] (at < text.size()), moving `at` to the next one. A
    // byte that does not start a well-formed sequence (a stray continuation byte, an overlong
    // form, a surrogate, a point beyond U+10FFFF, a cut sequence) is one character of its own,
    // kNotUtf8.
    static char32_t Next(const std::string& text, size_t& at);
    // Whether every byte of `text` belongs to a well-formed sequence.
    static bool IsValid(const std::string& text);
    // How many of the first `limit` bytes of `text` to keep so that the kept bytes do not end
    // with the start of a sequence whose other bytes were cut off. Bytes that are not well-formed
    // UTF-8 are kept as they are.
    static size_t CutLength(const std::string& text, size_t limit);
    // Appends the code point `point` (at most U+10FFFF) in UTF-8.
    static void Append(std::string& out, char32_t point);
    // `bytes` read as Windows-1252 (the ANSI code page of western Windows systems, Latin-1 with
    // printable characters in 0x80-0x9F), in UTF-8. The five bytes that code page leaves
    // undefined stand for the control characters of the same value, as browsers read them.
    static std::string FromWindows1252(const std::string& bytes);
};
