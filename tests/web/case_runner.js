// What both browser suites share: the check a case makes, and the run of a
// suite's cases in order, one line each ("ok - " or "FAIL - "), a failure
// for any error the page raised, and the count as the last line.
'use strict';

function expect(condition, what) {
  if (!condition) throw new Error(what);
}

// Runs `cases` ([name, async function] pairs), then closes the browser and
// ends the process, with 1 when anything failed. `label` goes before every
// name; `timed` adds each case's time to its line; `firstLine` keeps only
// the first line of a failure's message; `afterFailure(count)` runs after a
// failed case, its own failure ignored.
async function runCases(cases, { browser, errors, label = '', timed = false, firstLine = false, afterFailure }) {
  let passed = 0;
  let failed = 0;
  for (const [name, run] of cases) {
    const started = Date.now();
    try {
      await run();
      ++passed;
      console.log(`ok - ${label}${name}${timed ? ` (${Date.now() - started} ms)` : ''}`);
    } catch (error) {
      ++failed;
      console.log(`FAIL - ${label}${name}: ${firstLine ? error.message.split('\n')[0] : error.message}`);
      if (afterFailure) await afterFailure(passed + failed).catch(() => {});
    }
  }
  if (errors.length) {
    ++failed;
    console.log(`FAIL - ${label}the page raised errors: ${errors.join('; ')}`);
  }
  await browser.close();
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed ? 1 : 0);
}

// Runs the suite's `main`; a suite that cannot run at all counts as one failure.
function runSuite(main, label = '') {
  main().catch((error) => {
    console.log(`FAIL - ${label}the browser test could not run: ${error.message}`);
    console.log('0 passed, 1 failed');
    process.exit(1);
  });
}

module.exports = { expect, runCases, runSuite };
