// The tech-support archive file: a concatenation of the text files of one folder, each entry
// being the file's name on a line, the file's content and the ENDOFFILE marker line; plus the
// small text rules of the archive (its name, the one-line escaping of customer texts).
//
// Thread safety: plain functions without state; one archive run at a time writes the folder.
#pragma once

#include <string>

// The line that closes every entry of the archive (without its line end).
inline constexpr const char kArchiveEndMarker[] =
    "(|-|)(|-|)(|-|)(|-|)(|-|)(|-|)(|-|)(|-|)----ENDOFFILE-----(|-|)(|-|)(|-|)(|-|)(|-|)(|-|)(|-|)(|-|)(|-|)("
    "|-|)";
inline constexpr const char kProblemFileName[] = "Problem.Info";

// Writes folder/archiveName: Problem.Info first, then every other regular file of the folder in
// listing order (not the archive itself, not folders). A file that cannot be opened is left out.
// An entry whose content does not end with a line feed gets one, so the marker keeps its own
// line. Returns 0 on success, 1 when the archive cannot be created or written, 2 when an
// argument is missing or empty.
int createArchive(const char* folder, const char* archiveName);

// "<longDate>_<time>.archive" with every character that is not a letter or a digit of the name
// part replaced by '_' (e.g. "Mon__Jan_7__2008_09_05_03.archive").
std::string archiveFileName(const char* longDate, const char* time);

// One-line form of a customer text: '"' -> \", '\' -> \\, CR LF or a lone LF -> \r\n (four
// characters), a lone CR -> \r; everything else unchanged.
std::string escapeToOneLine(const char* text);
