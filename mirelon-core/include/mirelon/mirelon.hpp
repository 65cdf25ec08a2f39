#pragma once
// The whole public API of the core.

#include "mirelon/bytes.hpp"
#include "mirelon/chunk_geometry.hpp"
#include "mirelon/decrypt.hpp"
#include "mirelon/encrypt.hpp"
#include "mirelon/failure.hpp"
#include "mirelon/involute.hpp"
#include "mirelon/output.hpp"
#include "mirelon/range_condition.hpp"
#include "mirelon/utils/blob.hpp"
#include "mirelon/utils/keys.hpp"
