#include <audio/AudioSourceScan.hpp>

namespace stilwane {
} // namespace stilwane
