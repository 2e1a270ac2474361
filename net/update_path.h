#pragma once
// Where a file's download is written until it is installed over the file itself.

#include <string>

namespace toval {

// `target` + ".update", or, when that name would be longer than a file name may be, a shorter one
// in the same directory that no other target maps to. The same target always gives the same path,
// so the installer and a later run find what a download left.
std::string UpdateFilePath(const std::string& target);
// Beside a partial ".update" file: where its content came from, so that a later run can continue
// it (see resume_info.h). Shortened like UpdateFilePath.
std::string ResumeInfoPath(const std::string& target);

}  // namespace toval
