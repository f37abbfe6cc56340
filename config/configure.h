// The configuration program's dialogue: it shows the stored default parameters, reads new ones,
// tells what each word will do (with the program's own tokenizer and option parser, so the
// explanation can never disagree with a run), and has them stored. Portable; the Windows entry
// (config_main_win32.cpp) hands it the console and the registry.
#pragma once

#include "console/bounded_string.h"

// Writes one line per word of text, as Quorvel will split it: the word, then what it does
// ("never applied" for the words after one that ends every run). Changes no setting: the
// option parser runs on saved settings, with its launches and its end caught. True when a
// word ends every run (a launch option, -w, or a word Quorvel refuses as too long) or gives a
// message (an order or a cluster size Quorvel does not take, an unknown option): storing such
// a string is worth a second thought.
bool ExplainParameters(const ParamStr& text);

// What the dialogue reads and writes through.
struct ConfigurationIo {
  // The next line typed, without its line end (at most ParamCapacity bytes of it); *fullLength
  // counts all of it. False at the end of the input.
  bool (*readLine)(ParamStr* line, int* fullLength);
  // Stores text as the default parameters; false with *failure set when it could not.
  bool (*store)(const ParamStr& text, BStr* failure);
  const char* place;  // where the string is stored, as the user is told
  // Whose string it is and how it meets the other sources, written first: lines separated by
  // "\n".
  const char* about;
};

// The whole dialogue on the string stored now: returns the exit code (0 when the string was
// kept or stored, 1 when storing it failed).
int RunConfiguration(const ParamStr& stored, const ConfigurationIo& io);
