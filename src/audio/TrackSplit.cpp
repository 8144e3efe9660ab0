#include <audio/TrackSplit.hpp>

namespace stilwane {
} // namespace stilwane
