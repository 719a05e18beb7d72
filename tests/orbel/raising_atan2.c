/* Test helper for orbel's native error convention, compiled by the tests.
 *
 * atan2_asymmetric: a stand-in for the sibling's angle function that raises
 * ArithmeticError (leaving it pending, as a native function does) on the
 * call whose index was set with fail_at(); all other calls return the angle
 * in [0, 2*pi).
 *
 * normalize: a stand-in for arqel's vector kernel of that name, raising
 * ArithmeticError on the chosen call in the same way (the two share the call
 * counter).
 *
 * call_anomaly / call_orbel_from_sv: call an exported kernel holding the
 * interpreter lock (call_anomaly_unlocked: with the lock released) and keep
 * whatever exception it leaves pending, so that a ctypes caller sees the
 * kernel's return value; take_error() hands the kept exception over (or
 * None).  Load with ctypes.PyDLL, so the calls start holding the lock.
 */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <math.h>

static long calls = 0;
static long failing_call = -1;
static PyObject *kept = NULL;

void fail_at(long index) {
    calls = 0;
    failing_call = index;
}

long call_count(void) { return calls; }

double atan2_asymmetric(double y, double x) {
    if (calls++ == failing_call) {
        PyGILState_STATE state = PyGILState_Ensure();
        PyErr_SetString(PyExc_ArithmeticError, "atan2_asymmetric failed");
        PyGILState_Release(state);
        return 0.5; /* any value: callers must test for the exception */
    }
    double angle = atan2(y, x);
    return angle < 0.0 ? angle + 2.0 * M_PI : angle + 0.0;
}

void normalize(double *a, double *u) {
    if (calls++ == failing_call) {
        PyGILState_STATE state = PyGILState_Ensure();
        PyErr_SetString(PyExc_ArithmeticError, "normalize failed");
        PyGILState_Release(state);
    }
    double n = sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
    for (int i = 0; i < 3; ++i) u[i] = a[i] / n;
}

static void keep_error(void) {
    PyObject *exc = PyErr_GetRaisedException();
    if (exc) {
        Py_XDECREF(kept);
        kept = exc;
    }
}

double call_anomaly(double (*kernel)(double, double), double a, double b) {
    double result = kernel(a, b);
    keep_error();
    return result;
}

/* The same, with the interpreter lock released around the kernel call. */
double call_anomaly_unlocked(double (*kernel)(double, double), double a, double b) {
    double result;
    Py_BEGIN_ALLOW_THREADS
    result = kernel(a, b);
    Py_END_ALLOW_THREADS
    keep_error();
    return result;
}

typedef struct { double ecc, sma, inc, raa, arp, tra, slr; } orbel_t;

void call_orbel_from_sv(void (*kernel)(double *, double *, double, orbel_t *), double *r, double *v, double gm,
                        orbel_t *out) {
    kernel(r, v, gm, out);
    keep_error();
}

PyObject *take_error(void) {
    PyObject *exc = kept ? kept : Py_NewRef(Py_None);
    kept = NULL;
    return exc;
}
