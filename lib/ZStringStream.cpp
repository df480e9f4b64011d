// Output of a CString to a C++ stream, for callers and tests. A source of
// its own: a program that never uses a stream links none of their code.
#include <ostream>

#include "ZString.h"

std::ostream& operator<<(std::ostream& out, const CString& s) {
  return out.write(s.GetString(), s.GetLength());
}
