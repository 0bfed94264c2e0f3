#pragma once
namespace tavrik {
// tavrik-archive retag ...: argv[1] is "retag". Returns the exit status.
int RetagCommand(int argc, char** argv);
} // namespace tavrik
