// The interpreter's headers, restricted to the stable ABI so one build serves every CPython
// from 3.11 on.
#pragma once

#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030B0000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>
