#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace velvox {

// `velvox transcribe FILE [--kind prompt|email|message|note]`: one
// dictation's text pipeline on an audio file, with the same code as the
// hotkey path. Without --kind it is a plain dictation, with it a boost
// dictation of that kind. Records nothing and never touches FILE.
// Exit status: 0 with the text on `out`; 1 when transcription failed or heard
// nothing; 2 for a usage error or a file that cannot be read.
int transcribeCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace velvox
