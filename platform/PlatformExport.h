// Export macro of the platform layer (libVLibPlatform).
//
// Both libraries are built with hidden symbol visibility; every class and
// function that the subsystems or applications may call carries VPLATFORM_API.
#pragma once

#define VPLATFORM_API __attribute__((visibility("default")))
