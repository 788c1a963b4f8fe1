// Text rendering: every term as its signed coefficient followed by its one-based variables, in
// ascending degree and creation order, then the constant:
//   " +2x_{1} -1x_{2} 0x_{3} +5x_{1}x_{2} +3"
// Print and GetString share one renderer. They differ only in how a zero coefficient reads
// (" +0" printed, " 0" returned) and in Print's final newline. Variable ids are shown one-based
// and computed in 64 bits, so the largest id 2^31-1 reads x_{2147483648} instead of wrapping.
#include "render.h"

#include <charconv>
#include <cstdio>

#include "pbf.h"

namespace pbf {
namespace {

void AppendNumber(std::string& out, int64_t value) {
  char buffer[24];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

// " +5", " -5", and for zero " +0" or " 0".
void AppendSigned(std::string& out, int32_t value, bool plus_zero) {
  out += ' ';
  if (value > 0 || (value == 0 && plus_zero)) out += '+';
  AppendNumber(out, value);
}

void AppendTerm(std::string& out, int32_t coef, const int32_t* ids, int32_t degree,
                bool plus_zero) {
  AppendSigned(out, coef, plus_zero);
  for (int32_t k = 0; k < degree; ++k) {
    out += "x_{";
    AppendNumber(out, int64_t{ids[k]} + 1);
    out += '}';
  }
}

std::string Render(const PBF& f, bool plus_zero) {
  std::string out;
  for (const auto& table : f.terms.tables) {
    if (!table) continue;
    const int32_t n = table->Size();
    for (int32_t t = 0; t < n; ++t)
      AppendTerm(out, table->Coef(t), table->Ids(t), table->degree, plus_zero);
  }
  AppendSigned(out, f.constant, /*plus_zero=*/true);
  return out;
}

}  // namespace

void PBF::Print() const {
  std::string text = Render(*this, /*plus_zero=*/true);
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stdout);
}

std::string PBF::GetString() const { return Render(*this, /*plus_zero=*/false); }

std::string TermString(int32_t coef, const int32_t* ids, int32_t degree) {
  std::string out;
  AppendTerm(out, coef, ids, degree, /*plus_zero=*/false);
  return out.substr(1);
}

}  // namespace pbf
