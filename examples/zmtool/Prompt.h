// The question about a file that exists already, asked on the terminal:
//   replace NAME? [y]es, [n]o, [A]ll, [N]one, [r]ename:
#pragma once
#include <string>

namespace zmtool {

enum class TReply { Yes, No, All, None, Rename };

// Asks until the answer is one of the five; the end of the input counts as None.
TReply AskReplace(const std::string& name);
// Asks for the new name of the file (below DEST); false at the end of the input.
bool AskNewName(std::string& name);

}  // namespace zmtool
