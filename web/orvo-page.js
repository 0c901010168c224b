// The page around orvo-web: it checks that the browser can run the game, mounts the data
// folder from the browser's storage (IndexedDB) and keeps it saved, fetches the game
// archive, loads the synthesizer when the runtime asks for it (the first song), shows the
// runtime's message boxes as a dialog, starts the sound with the first click or key, and
// says on the page what went wrong when something does.
"use strict";

(function () {
  const archiveName = "game.orvo";
  const synthesizerName = "libfluidsynth.js";
  const saveEveryMs = 1000;
  const status = document.getElementById("status");
  const canvas = document.getElementById("screen");

  function say(text, problem) {
    status.textContent = text;
    status.className = problem ? "problem" : "";
  }

  if (typeof WebAssembly !== "object" || typeof WebAssembly.instantiate !== "function") {
    say("This browser cannot run the game: it has no WebAssembly.", true);
    return;
  }

  // The data folder and IndexedDB are synchronised one transfer at a time; a transfer
  // ends with its callback or with the browser refusing its transaction, whichever comes
  // first (see watchStorage).
  let transfer = null;
  function synchronise(populate, then) {
    const attempt = { then };
    transfer = attempt;
    FS.syncfs(populate, (error) => settle(attempt, error));
  }
  function settle(attempt, error) {
    if (transfer !== attempt) return;
    transfer = null;
    attempt.then(error);
  }

  // IDBFS (in this emscripten) loses the errors that arrive after a write was asked for:
  // a refused write reaches its callback as undefined, where success is null, and a
  // transaction the browser aborts (storage full when it commits) never calls back at all,
  // so the saves would stop without a word. Both are turned into errors here.
  function watchStorage() {
    const store = IDBFS.storeRemoteEntry;
    IDBFS.storeRemoteEntry = (objects, path, entry, callback) => store(objects, path, entry, (error) =>
      callback(error === undefined ? new Error("the browser refused a write") : error));
    const open = IDBFS.getDB;
    IDBFS.getDB = (name, callback) => open(name, (error, db) => {
      if (db && !db.orvoWatched) {
        db.orvoWatched = true;
        const begin = db.transaction.bind(db);
        db.transaction = (...how) => {
          const t = begin(...how), owner = transfer;
          t.addEventListener("abort", () => {
            if (owner) settle(owner, t.error || new Error("the browser aborted the transfer"));
          });
          return t;
        };
      }
      callback(error, db);
    });
  }

  // The data folder is written back to IndexedDB while the game runs; one save at a time.
  let saving = false, saveAgain = false, stopped = false;
  function save() {
    if (saving) { saveAgain = true; return; }
    saving = true;
    synchronise(false, (error) => {
      saving = false;
      if (error) say("Saves and settings cannot be kept: the browser's storage refused them (" +
                     (error.name && error.name !== "Error" ? error.name : error.message || error) +
                     "). The game goes on; what it saves lasts until the page is closed.", true);
      if (saveAgain) { saveAgain = false; save(); }
    });
  }

  function fail(text) {
    stopped = true;
    say(text, true);
  }

  // The synthesizer (FluidSynth as WebAssembly), fetched with the game's first song. Its
  // script is an Emscripten module of its own that, like orvo-web.js, keeps its state in
  // top-level names (Module, HEAPU8, FS, ...): it runs inside a function of its own, so
  // that the two modules never share a name. The promise gives its Module.
  let synthesizer = null;
  function loadSynthesizer(onError) {
    if (synthesizer) return synthesizer;
    synthesizer = fetch(synthesizerName).then((response) => {
      if (!response.ok) throw new Error(synthesizerName + ": the server answered " + response.status);
      return response.text();
    }).then((source) => new Promise((resolve, reject) => {
      const synth = {
        print: () => {},
        printErr: onError,
        onAbort: (what) => reject(new Error(String(what))),
        onRuntimeInitialized: () => resolve(synth),
      };
      new Function("Module", source)(synth);
    }));
    return synthesizer;
  }

  const dialog = document.getElementById("dialog");
  const dialogText = document.getElementById("dialog-text");
  const dialogOk = document.getElementById("dialog-ok");

  window.Module = {
    canvas: canvas,
    preRun: [function () {
      FS.mkdir("/data");
      watchStorage();
      FS.mount(IDBFS, {}, "/data");
      FS.mkdir("/game");
      addRunDependency("orvo-storage");
      synchronise(true, (error) => {
        if (error) say("The saved games could not be read; the game starts without them.", true);
        removeRunDependency("orvo-storage");
      });
      addRunDependency("orvo-archive");
      fetch(archiveName).then((response) => {
        if (!response.ok) throw new Error("the server answered " + response.status);
        return response.arrayBuffer();
      }).then((bytes) => {
        FS.writeFile("/game/" + archiveName, new Uint8Array(bytes));
        // The runtime starts outside this promise: what it does is not a failed download.
        setTimeout(() => removeRunDependency("orvo-archive"));
      }).catch((error) => {
        fail("The game could not be loaded: " + archiveName + " is missing (" + error.message + ").");
      });
    }],
    print: (text) => console.log(text),
    printErr: (text) => console.warn(text),
    onAbort: (what) => fail("The game stopped: " + what),
    orvoLoadSynthesizer: loadSynthesizer,
    orvoDialog: (text) => new Promise((resolve) => {
      dialogText.textContent = text;
      dialog.className = "open";
      dialogOk.focus();
      dialogOk.onclick = () => {
        dialog.className = "";
        canvas.focus();
        resolve();
      };
    }),
    onFirstFrame: () => {
      say(Module.orvoAudio && Module.orvoAudio.context.state !== "running"
          ? "Click the game or press a key to start the sound." : "");
      setInterval(() => { if (!stopped) save(); }, saveEveryMs);
    },
    onAudioContext: (context) => {
      if (context.state !== "running" && Module.orvoFrames !== undefined)
        say("Click the game or press a key to start the sound.");
    },
    onGameEnded: (code, outcome) => {
      stopped = true;
      save();
      say(code === 0 ? "The game has ended. Reload the page to play again."
                     : "The game could not go on (see the message). Reload the page to try again.",
          code !== 0);
    },
  };

  // Browsers start sound only after the player does something on the page.
  function startSound() {
    const audio = Module.orvoAudio;
    if (audio && audio.context.state !== "running")
      audio.context.resume().then(() => { if (status.className !== "problem") say(""); });
  }
  document.addEventListener("pointerdown", startSound, true);
  document.addEventListener("keydown", startSound, true);
  canvas.addEventListener("contextmenu", (e) => e.preventDefault());
  window.addEventListener("pagehide", () => { if (!stopped) save(); });
  window.addEventListener("error", (e) => fail("The game stopped: " + e.message));
  window.addEventListener("unhandledrejection", (e) =>
    fail("The game stopped: " + (e.reason && e.reason.message || e.reason)));

  const runtime = document.createElement("script");
  runtime.src = "orvo-web.js";
  runtime.onerror = () => fail("The game could not be loaded: orvo-web.js is missing.");
  document.body.appendChild(runtime);
  canvas.focus();
})();
