#include "office/office_state.h"

OfficeState& OfficeCtx() {
  static OfficeState state;
  return state;
}

void ResetOfficeState() { OfficeCtx() = OfficeState(); }
