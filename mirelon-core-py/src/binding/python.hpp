#pragma once
// The one way this module includes Python.h: the stable ABI of Python 3.9 and
// later, so one wheel serves every later interpreter.

#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x03090000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>
