#include "platform/registry_warnings.h"

void leaveRegistryWarningsToTheHost() {}
