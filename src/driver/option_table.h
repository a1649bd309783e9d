// Every option of the command line in one table, in the order of the help:
// its name, the forms its value takes, its group, what it sets and its
// lines of the help. read_options reads the arguments against it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/run_settings.h"

enum class ValueForm : uint8_t {
  None,              // the name alone
  Glued,             // -jN: the value straight after the name; one refused makes an unknown argument
  OptionalJoined,    // --name or --name=VALUE; "--name=" is an unknown argument
  SeparateOrJoined,  // --name VALUE or --name=VALUE; "--name=" or no VALUE is a missing value
};

enum class OptionGroup : uint8_t {
  Mode,          // the listing's mode: none goes with --dat or --dir2dat, the last one counts
  General,       // every run
  Audit,         // the audit and the DATs written
  Rebuild,       // --rebuild itself
  UnderRebuild,  // needs --rebuild
};

enum class OptionEffect : uint8_t {
  Sets,           // into the settings, and the options go on
  EndsOptions,    // "--": every later argument is a path
  PrintsHelp,     // the usage line and every row's help, on standard output
  PrintsVersion,  // likewise the version
};

struct OptionRow {
  const char* name;
  OptionGroup group;
  ValueForm form = ValueForm::None;
  // What a missing or refused value needs, for "NAME needs WORDS".
  const char* value_words = nullptr;
  // Whether the value is one the option takes; null takes any.
  bool (*accepts)(const char* value) = nullptr;
  // The value is null for the name alone.
  void (*set)(RunSettings& settings, const char* value) = nullptr;
  OptionEffect effect = OptionEffect::Sets;
  const char* help = "";
};

extern const OptionRow option_rows[];
extern const size_t option_row_count;

// The most workers -jN takes.
constexpr int max_workers = 1024;
