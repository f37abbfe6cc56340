#include "report/display.h"

const BStr GraphicTreeChars = {5, {(char)0xC0, (char)0xC3, (char)0xC4, ' ', (char)0xB3, 0}};
const BStr PlainTreeChars = {5, {'+', '|', '-', ' ', '|', 0}};
BStr TreeChars = GraphicTreeChars;
bool ShowWaste = true;
bool WasteAsPercent = true;
bool ShowFiles = true;
bool ShowUnits = false;

void SetTreeChars(const BStr& chars) {
  TreeChars = chars;
}
void SetShowWaste(bool on) {
  ShowWaste = on;
}
void SetWasteAsPercent(bool on) {
  WasteAsPercent = on;
}
void SetShowFiles(bool on) {
  ShowFiles = on;
}
void SetShowUnits(bool on) {
  ShowUnits = on;
}
void ToggleTreeChars() {
  TreeChars = BEquals(TreeChars, GraphicTreeChars) ? PlainTreeChars : GraphicTreeChars;
}
