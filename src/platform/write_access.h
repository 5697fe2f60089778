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

// Why accounts other than the administrators and the account running this
// process may remove or rename what the folder at path holds, or change
// who may, in words that follow the path in a sentence; empty when they
// may not. Adding entries is no such right: an entry that someone else
// adds cannot take the place of one that is there. So a POSIX folder with
// the sticky bit (/tmp), where only an entry's owner may rename it, passes
// whoever may write it, as does a Windows drive root where users may make
// folders. A path that cannot be examined gets the reason it cannot.
std::string WhyOthersMayMoveEntries(const std::string& path);

// Why the folder at path could have been replaced, or what it holds
// changed, by an account other than the administrators and this process's:
// the path at fault followed by the reason; empty when none. The folder
// itself is judged by WhyOthersMayChange, and each folder above it, up to
// the root (the drive's root on Windows), by WhyOthersMayMoveEntries: an
// entry of a sticky folder is judged by its own owner one step below.
std::string WhyFolderIsReplaceable(const std::string& folder);

// What an administrator does about a folder or a file of the job's own
// (its program folder, its state directory, the lock file there) that
// others could change, in a sentence or two.
std::string UntrustedPlaceAdvice();

// The other side of the same lists: why ordinary users may read the file at
// path, in words that follow the path in a sentence ("is readable by
// everyone"); empty when they may not. Ordinary users are everyone on POSIX
// (the "other" read bit; its group is the job's to choose); on Windows
// every account but SYSTEM, Administrators, TrustedInstaller and the
// account running this process, and the owner when it is none of these
// (an owner may always grant itself reading). A path that cannot be
// examined gets the reason it cannot.
std::string WhyOrdinaryUsersMayRead(const std::string& path);

// What an administrator does about that, for the settings file, in a
// sentence.
std::string PrivateSettingsAdvice();

}  // namespace quorvex
