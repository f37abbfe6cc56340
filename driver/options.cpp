#include "driver/options.h"

#include "driver/run.h"

RunOptions Options = {255, 0, Screen, 0, false, {1, {'.', 0}}, NAME};

void ParseOption(const BStr& token) {
  if (token.length > 0 && token.text[0] == '-') return;
  Options.directory = token;
}

void ProcessParameters(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) ParseOption(BMake(argv[i]));
  RunDirectory();
}
