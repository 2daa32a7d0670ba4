// The control device's security: only the local system and the
// Administrators group may open it.
#pragma once

#include "platform/kernel/kernel.h"

// Replaces the device's discretionary ACL with one that grants all access to
// the local system (S-1-5-18) and to Administrators (S-1-5-32-544) and to
// nobody else. Called right after IoCreateDevice, while the device is still
// initialising and cannot be opened.
NTSTATUS RestrictToAdministratorsAndSystem(PDEVICE_OBJECT device);
