// TEMPORARY: remove with pending_definitions.inc once main has these parts.
#include "pending_definitions.inc"
