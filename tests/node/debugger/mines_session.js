// A whole session of velda-dap on mines, headless, driven by the editor makers' own
// protocol client: break at a label, step over, into and out, read registers and
// memory, write memory, set a watch and hit it, step back and check the registers and
// memory against the forward run, reverse-continue to a breakpoint, and continue to the end.
// usage: node mines_session.js VELDA_DAP GAME_FOLDER EVENTS_FILE SOURCE_FOLDER
'use strict';
const assert = require('assert');
const path = require('path');
const { DebugClient } = require('@vscode/debugadapter-testsupport');

const [dap, game, events, sources] = process.argv.slice(2);
const thread = { threadId: 1 };

async function top(dc) {
  const r = await dc.stackTraceRequest(thread);
  return r.body.stackFrames[0];
}

async function stepped(dc, request) {
  const stop = dc.waitForEvent('stopped');
  await request;
  const e = await stop;
  assert.strictEqual(e.body.reason, 'step');
  return top(dc);
}

async function registers(dc) {
  const frame = await top(dc);
  const scopes = await dc.scopesRequest({ frameId: frame.id });
  const regs = scopes.body.scopes.find((s) => s.name === 'Registers');
  const vars = await dc.variablesRequest({ variablesReference: regs.variablesReference });
  return Object.fromEntries(vars.body.variables.map((v) => [v.name, v.value]));
}

async function word(dc, expression) {
  const r = await dc.evaluateRequest({ expression, context: 'watch' });
  return BigInt(r.body.result.split(' ')[0]);
}

async function main() {
  const dc = new DebugClient(dap, '', 'velda', {}, true);
  dc.defaultTimeout = 20000;
  await dc.start();
  try {
    const initialized = dc.waitForEvent('initialized');
    const init = await dc.initializeRequest();
    assert.ok(init.body.supportsDataBreakpoints && init.body.supportsReadMemoryRequest);
    assert.ok(init.body.supportsStepBack);
    await dc.launchRequest({ game, events, sources });
    await initialized;
    const fb = await dc.setFunctionBreakpointsRequest({ breakpoints: [{ name: 'NewGame' }] });
    assert.ok(fb.body.breakpoints[0].verified, 'NewGame resolves');
    const hit = dc.waitForEvent('stopped');
    await dc.configurationDoneRequest();
    const stop = await hit;
    assert.strictEqual(stop.body.reason, 'breakpoint');

    // At the label: its statement in board.ova.
    let frame = await top(dc);
    assert.strictEqual(frame.name, 'NewGame');
    assert.strictEqual(path.basename(frame.source.path), 'board.ova');
    const atNewGame = await registers(dc);
    const entryLine = frame.line;
    const callers = (await dc.stackTraceRequest(thread)).body.stackFrames;
    assert.ok(callers.length >= 2, 'NewGame is called from the start event');

    // Over a line, into SetCursor, out again, over ApplyLevel.
    frame = await stepped(dc, dc.nextRequest(thread));
    assert.strictEqual(frame.line, entryLine + 1);
    frame = await stepped(dc, dc.nextRequest(thread));
    assert.strictEqual(frame.line, entryLine + 2);  // jsrfr 4, =SetCursor
    frame = await stepped(dc, dc.stepInRequest(thread));
    assert.strictEqual(frame.name, 'SetCursor');
    frame = await stepped(dc, dc.stepOutRequest(thread));
    assert.match(frame.name, /^NewGame/);
    assert.strictEqual(frame.line, entryLine + 3);  // jsrfr 0, =ApplyLevel
    frame = await stepped(dc, dc.nextRequest(thread));
    assert.strictEqual(frame.line, entryLine + 4);
    assert.strictEqual(frame.name.split('+')[0], 'NewGame');

    // One instruction: the program counter moves on by that instruction's length.
    const before = await registers(dc);
    const dis = await dc.customRequest('disassemble', {
      memoryReference: frame.instructionPointerReference, instructionCount: 2 });
    assert.strictEqual(dis.body.instructions.length, 2);
    await stepped(dc, dc.stepInRequest({ threadId: 1, granularity: 'instruction' }));
    const after = await registers(dc);
    assert.strictEqual(BigInt(after.VPC), BigInt(dis.body.instructions[1].address));
    assert.notStrictEqual(after.VSP, before.VSP, 'the push moved the stack pointer');

    // Memory: a word read through evaluate and readMemory agree; writeMemory changes it.
    const state = await dc.evaluateRequest({ expression: '[_State]' });
    const read = await dc.customRequest('readMemory', { memoryReference: state.body.memoryReference, count: 4 });
    const bytes = Buffer.from(read.body.data, 'base64');
    assert.strictEqual(BigInt(bytes.readUInt32LE(0)), await word(dc, '[_State]'));
    const five = Buffer.from([5, 0, 0, 0]).toString('base64');
    await dc.customRequest('writeMemory', { memoryReference: state.body.memoryReference, data: five });
    assert.strictEqual(await word(dc, '[_State]'), 5n);

    // A watch on the next game number: it stops after the store, with the value stored.
    const info = await dc.customRequest('dataBreakpointInfo', { name: '[_NextGame]' });
    assert.ok(info.body.dataId);
    await dc.customRequest('setDataBreakpoints', { breakpoints: [{ dataId: info.body.dataId }] });
    await dc.setFunctionBreakpointsRequest({ breakpoints: [] });
    const watched = dc.waitForEvent('stopped');
    await dc.continueRequest(thread);
    assert.strictEqual((await watched).body.reason, 'data breakpoint');
    const regs = await registers(dc);
    assert.strictEqual(await word(dc, '[_NextGame]'), BigInt(regs.$1.split(' ')[0]) & 0xFFFFFFFFn);

    // Forward one instruction at a time, then back again: each place shows the registers
    // and memory it had on the way forward, and forward again gives the same once more.
    const forward = [];
    for (let i = 0; i < 4; ++i) {
      forward.push({ regs: await registers(dc), next: await word(dc, '[_NextGame]'),
                     top: await word(dc, '[VSP]') });
      if (i < 3) await stepped(dc, dc.stepInRequest({ threadId: 1, granularity: 'instruction' }));
    }
    for (let i = 2; i >= 0; --i) {
      await stepped(dc, dc.customRequest('stepBack', { threadId: 1, granularity: 'instruction' }));
      assert.deepStrictEqual(await registers(dc), forward[i].regs, `registers ${i} steps in`);
      assert.strictEqual(await word(dc, '[_NextGame]'), forward[i].next);
      assert.strictEqual(await word(dc, '[VSP]'), forward[i].top);
    }
    await stepped(dc, dc.stepInRequest({ threadId: 1, granularity: 'instruction' }));
    assert.deepStrictEqual(await registers(dc), forward[1].regs, 'forward again from the past');
    // Back by lines: a line back is the start of an earlier line.
    frame = await stepped(dc, dc.customRequest('stepBack', thread));
    assert.ok(frame.line > 0);

    // Back to the breakpoint at NewGame, across everything since: the state it had.
    await dc.setFunctionBreakpointsRequest({ breakpoints: [{ name: 'NewGame' }] });
    const back = dc.waitForEvent('stopped');
    await dc.customRequest('reverseContinue', thread);
    assert.strictEqual((await back).body.reason, 'breakpoint');
    assert.strictEqual((await top(dc)).name, 'NewGame');
    assert.deepStrictEqual(await registers(dc), atNewGame);
    await dc.setFunctionBreakpointsRequest({ breakpoints: [] });

    // A conditional breakpoint, run under the fast loop: SetCursor(0) at the end of
    // NewGame, not SetCursor(1) at its start. The argument lies above the return address.
    await dc.customRequest('setDataBreakpoints', { breakpoints: [] });
    const cb = await dc.setFunctionBreakpointsRequest({
      breakpoints: [{ name: 'SetCursor', condition: '[VSP + 8] == 0' }] });
    assert.ok(cb.body.breakpoints[0].verified);
    const conditional = dc.waitForEvent('stopped');
    await dc.continueRequest(thread);
    assert.strictEqual((await conditional).body.reason, 'breakpoint');
    assert.strictEqual((await top(dc)).name, 'SetCursor');
    assert.strictEqual(await word(dc, '[VSP + 8]'), 0n);
    // A condition that never holds: the game runs through every call to its end, where
    // the script closes the window.
    await dc.setFunctionBreakpointsRequest({
      breakpoints: [{ name: 'SetCursor', condition: '[VSP + 8] == 7' }] });
    let strayStop = null;
    dc.on('stopped', (e) => { strayStop = e; });
    const ended = dc.waitForEvent('terminated');
    const exited = dc.waitForEvent('exited');
    await dc.continueRequest(thread);
    await ended;
    assert.strictEqual(strayStop, null, 'a false condition does not stop the game');
    assert.strictEqual((await exited).body.exitCode, 0);
  } finally {
    await dc.stop();
  }
}

main().then(() => process.exit(0), (e) => {
  console.error(e);
  process.exit(1);
});
