// Start-up guard shared by the kit's programs that drive the engine.
#ifndef ZEB_STANDARDFDS_H
#define ZEB_STANDARDFDS_H

// Opens /dev/null on every one of descriptors 0-2 that is closed. A closed standard
// descriptor would be handed to the next file opened, and the test file would then receive
// what the engine prints on standard output.
void ReopenClosedStandardDescriptors();

#endif
