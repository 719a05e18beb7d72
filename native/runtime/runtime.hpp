// The shared runtime layer: one include for a module's Python-facing layer.
#pragma once

#include "runtime/args.hpp"
#include "runtime/buffer.hpp"
#include "runtime/capi.hpp"
#include "runtime/errors.hpp"
#include "runtime/function.hpp"
#include "runtime/module_frame.hpp"
#include "runtime/parallel.hpp"
#include "runtime/ref.hpp"
