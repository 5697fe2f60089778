// Whether a program the job starts could have been replaced by an ordinary
// user.
//
// A program is only as safe as its file and the folders it lies in:
// whoever may change any of them can put another program in its place, and
// the job would then run it with the job's own rights. The accounts trusted
// with that are the system's administrators and the account the job runs
// as; everyone else must not be able to write the file, nor add, remove or
// rename entries in its folders, nor change who may.
//
// The platforms differ only in who the administrators are and in how write
// access is read, so the walk over the folders is shared and each platform
// judges one path.
#pragma once

#include <string>

namespace quorvex {

// Why accounts other than the administrators and the account running this
// process may change the file or folder at path, in a few words that follow
// the path in a sentence ("is writable by everyone"); empty when they may
// not. A path that cannot be examined gets the reason it cannot, so it
// counts as changeable.
std::string WhyOthersMayChange(const std::string& path);

// Why the program at tool could have been replaced by such an account: the
// path at fault followed by WhyOthersMayChange's reason; empty when none.
// Judged are the file itself and each folder from its own up to
// program_folder, when tool is program_folder's text followed by a
// relative path that stays inside it (".." is resolved as text); any other
// tool is judged by its file and its own folder only. The folders above
// the program folder are the system's and are never judged: on Windows a
// drive's root lets every user create folders in it.
std::string WhyToolIsReplaceable(const std::string& tool, const std::string& program_folder);

// What an administrator does about such a finding on this platform, in a
// sentence.
std::string ReplaceableToolAdvice();

// The other side of the same lists: why ordinary users may read the file at
// path, in words that follow the path in a sentence ("is readable by
// everyone"); empty when they may not. Ordinary users are everyone on POSIX
// (the "other" read bit; its group is the job's to choose) and on Windows
// Everyone, Users, Authenticated Users and Interactive. A path that cannot
// be examined gets the reason it cannot.
std::string WhyOrdinaryUsersMayRead(const std::string& path);

// What an administrator does about that, for the settings file, in a
// sentence.
std::string PrivateSettingsAdvice();

}  // namespace quorvex
