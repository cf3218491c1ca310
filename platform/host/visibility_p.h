#ifndef VISIBILITY_P_H
#define VISIBILITY_P_H

namespace HostVisibility {

// Flips Application::isApVisible() and journals the change. Any thread.
void toggle();

} // namespace HostVisibility

#endif // VISIBILITY_P_H
