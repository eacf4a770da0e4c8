#include "standard_streams.h"

namespace tallyhook {

void StandardInput::drain() {
  char buffer[65536];
  while (read(buffer, sizeof buffer) > 0) {
  }
}

}  // namespace tallyhook
