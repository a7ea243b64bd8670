#pragma once
// What a command-line program needs to know about the console it writes to.

namespace nimbrel::platform {

enum class StandardStream { Output, Error };

// True when the stream goes to an interactive terminal (not a file or a pipe).
bool IsTerminal(StandardStream stream);
// The terminal's width in columns; 0 when it is unknown or the stream is no terminal.
int TerminalColumns(StandardStream stream);

}  // namespace nimbrel::platform
