// The sub-commands of the command-line front end. Each takes the arguments
// after its own name and returns the process exit status.
#pragma once

#include <string>
#include <vector>

using CommandArgs = std::vector<std::string>;

int RunInfoCommand(const CommandArgs& args);
int RunProfilesCommand(const CommandArgs& args);
int RunStreamsCommand(const CommandArgs& args);
int RunConvertCommand(const CommandArgs& args);
