// Ids of the test resources, shared by the resource files and the tests.
#pragma once

#define IDR_EMPTY 200
#define IDR_1024 201
#define IDR_1025 202
#define IDR_ONLY_IN_LIBRARY 300
