// The window calls of the headless program: it has no window, so nothing is drawn. The port's
// state, which a dialog shows on its tooltip, goes to stderr (FrontSetPortTip).
#include "front/front_end.h"

void FrontCheckSpeed(unsigned) {}

void FrontAddPortItem(const char*) {}

void FrontSelectPortItem(int) {}

void FrontRemovePortItems(int) {}

void FrontDismissErrorBox() {}
