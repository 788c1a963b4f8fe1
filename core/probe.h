// Probing on the free part of a quadratic function: fixes more variables, persistently.
#pragma once

#include <cstdint>
#include <vector>

#include "free_part.h"

namespace pbf {

// For each connected component of `part` of at most kProbeComponent variables, smallest first,
// while the work budget lasts: every free variable i is tried at 0 and at 1 (roof duality on the
// component with x_i set and the labels found so far substituted). A label both tries agree on is
// persistent; when one try's bound exceeds the best value known for the component, the other value
// holds in every minimiser and that try's labels are persistent too. Newly fixed variables get
// `fixed[k]` = 0 or 1 (entries -1 are free on entry). `x` (0/1 per local variable) is the best
// labelling known: probing replaces a component's labels by a better try when it meets one, and
// leaves x agreeing with every fixed label. The same fixed labels, taken together, are shared by
// some minimiser of the part given the labels fixed before.
//
// Budget: a try costs its variables plus its pairs; all tries together cost at most
// kProbeWorkPerEntry times the part's variables plus adjacency entries, plus kProbeBaseWork, so
// probing stays within a small multiple of one roof-dual solve of the part.
inline constexpr uint32_t kProbeComponent = 256;
inline constexpr uint64_t kProbeWorkPerEntry = 16;
inline constexpr uint64_t kProbeBaseWork = uint64_t{1} << 20;

void Probe(const FreePart& part, std::vector<int8_t>& fixed, std::vector<uint8_t>& x);

}  // namespace pbf
