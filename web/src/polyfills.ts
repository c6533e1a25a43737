// Functions the embedded engine (Chromium 87) lacks. Lowering syntax does not add them, and a
// single missing one blanks the page, so they are installed before any other module runs.
import 'core-js/stable/array/at';
import 'core-js/stable/string/at';
import 'core-js/stable/object/has-own';
import 'core-js/stable/structured-clone';
import 'core-js/stable/array/find-last';
import 'core-js/stable/array/find-last-index';
