// Who tells about a registry file that does not read cleanly. A driver
// library carries its own copy of the registry reader; its host read the
// same file first and gave the warnings already.
#pragma once

// From now on this copy of the reader reads the registry without warnings.
// Called when a driver library is loaded. No effect where the system keeps
// the registry (Windows).
void leaveRegistryWarningsToTheHost();
