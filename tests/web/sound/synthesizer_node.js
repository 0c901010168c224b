// Put before the web build's sound tests (--pre-js): under node, the synthesizer's script
// is loaded as the page loads it, inside a function of its own so that its top-level
// names (Module, HEAPU8, FS, ...) stay apart from the test program's. Its path is in the
// environment (ORVO_SYNTHESIZER).
Module["orvoLoadSynthesizer"] = (onError) => new Promise((resolve, reject) => {
  const source = require("fs").readFileSync(process.env.ORVO_SYNTHESIZER, "utf8");
  const synth = {
    print: () => {},
    printErr: onError,
    onAbort: (what) => reject(new Error(String(what))),
    onRuntimeInitialized: () => resolve(synth),
  };
  new Function("Module", "require", "__dirname", "process", source)(synth, require, __dirname, process);
});
