#pragma once
// The Ver file: its name carries the installed version ("Ver3.5", "Ver3.5a"), its
// text the revision (the number between the last "No." and the next ")").
#include <string>

// The version text of a Ver file name: everything after "Ver", in lower case.
std::string VerFileVersionText(const std::string& fileName);

// Orders versions: the version with four decimal places as an integer, plus the
// position of a trailing letter (a = 1 .. z = 26). "3.5" is 35000, "3.5a" 35001.
int VersionKey(const std::string& versionText);

// The version times 100, as update file names carry it: key 35001 gives 350.
inline int VersionCode(int versionKey) { return versionKey / 100; }

// The revision of a Ver file's text; 0 without a "No." or without a ")" after the last one.
int ParseRevision(const char* text);
// The same over every byte of text, zero bytes included.
int ParseRevision(const std::string& text);

// A Ver file's name: "Ver" (any case) and a version of the expected form, digits with at most one "."
// between digits, optionally one letter ("Ver3", "Ver3.5", "Ver3.5a"). Backup copies ("Ver3.5.BAK2"), the
// program's own temporary names ("Ver3.ZYNNEW") and other files ("Version.ini") are not.
bool IsVerFileName(const std::string& fileName);
