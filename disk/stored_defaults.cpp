#include "disk/stored_defaults.h"

ParamStr StoredDefaultParams = {0, {0}};
bool StoredDefaultsTooLong = false;

ParamStr StoredText(const char* bytes, int length, bool endAtLine, bool* tooLong) {
  int n = 0;
  while (n < length) {
    char c = bytes[n];
    if (c == 0 || (endAtLine && (c == '\n' || c == '\r'))) break;
    ++n;
  }
  *tooLong = n > ParamCapacity;
  return MakeText<ParamCapacity>(bytes, *tooLong ? 0 : n);
}

ParamStr JoinStoredDefaults(const ParamStr& machine, const ParamStr& user, bool* tooLong) {
  *tooLong = false;
  if (user.length == 0) return machine;
  if (machine.length == 0) return user;
  ParamStr joined;
  BClear(joined);
  *tooLong = machine.length + 1 + user.length > ParamCapacity;
  if (*tooLong) return joined;
  joined = machine;
  BAppendChar(joined, ' ');
  BAppend(joined, user.text, user.length);
  return joined;
}

void LoadStoredDefaults() {
  bool machineTooLong = false, userTooLong = false, joinedTooLong = false;
  ParamStr machine = ReadStoredDefaults(MachineDefaults, &machineTooLong);
  ParamStr user = ReadStoredDefaults(UserDefaults, &userTooLong);
  StoredDefaultParams = JoinStoredDefaults(machine, user, &joinedTooLong);
  StoredDefaultsTooLong = machineTooLong || userTooLong || joinedTooLong;
  if (StoredDefaultsTooLong) BClear(StoredDefaultParams);
}
