// Taking turns: who goes first alternates from round to round, so that
// neither of two measured things always meets the machine as the other left
// it.
#pragma once

namespace bench {

template <class One, class Other>
void InTurn(int round, const One& one, const Other& other) {
  if (round % 2 == 0) {
    one();
    other();
  } else {
    other();
    one();
  }
}

}  // namespace bench
