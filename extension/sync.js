// Zorvane's background: keeps the browser's bookmarks in sync with the
// account through the native host (zorvane-native-host), which runs the
// engine. One source for both browsers: Chromium runs it in a service
// worker, Firefox as a background script. Either may be stopped whenever it
// is idle, so whatever must outlive it (the dirty mark, the pending sync,
// the last result, the mass-delete question) is kept in storage.local;
// the password never is (the native host keeps it).
'use strict';

const api = globalThis.browser ?? globalThis.chrome;
const IS_FIREFOX = typeof api.runtime.getBrowserInfo === 'function';
const HOST = 'net.zorvane.host';
// Nodes per message: at most 2,000, and at most BUDGET bytes of JSON. A
// node larger than the budget goes in a message of its own, within the
// host's limit (MAX_MESSAGE, less room for the call around it).
const BATCH = 2000;
const BUDGET = 512 * 1024;
const MAX_MESSAGE = 1024 * 1024;
const ENVELOPE = 256;
// Batches sent before the first of them is answered: the host reads one
// while the next is written, and at most this many wait in the pipe.
const BATCHES_UNDER_WAY = 3;
// How long a call may go unanswered before the sync gives up and closes
// the port: the calls that talk to the server take as long as the server
// and the tree need; `open` waits up to 70 s for another host of the account.
const CALL_SECONDS = 180;
const ACTION_SECONDS = 1200;
const ACTIONS = new Set(['update', 'sync', 'overwrite']);
const CHANGE_ALARM = 'zorvane-change';
const PERIODIC_ALARM = 'zorvane-periodic';
const DEFAULTS = {
  changeDelaySeconds: 30, periodMinutes: 15, batch: BATCH, pageOps: 0,
  maxMessage: MAX_MESSAGE, callSeconds: CALL_SECONDS, actionSeconds: ACTION_SECONDS,
};

let muted = false;       // our own writes are not the user's changes
let running = null;      // the sync under way
let again = null;        // a sync asked for while one runs

// --- the native host ---------------------------------------------------------

function failure(code, message) {
  const e = new Error(message);
  e.code = code;
  return e;
}

// One port per sync, with explicit request ids. Every call has a time
// limit; when one passes, every call fails and the port is closed. An
// error answer without an id is about a message the host could not take
// (a frame over its limit, JSON it cannot read): the call it belonged to
// cannot be told, so every call under way fails with it.
class HostPort {
  constructor(limits = {}) {
    this.next = 1;
    this.waiting = new Map();
    this.events = [];
    this.closed = null;
    this.callSeconds = limits.callSeconds || CALL_SECONDS;
    this.actionSeconds = limits.actionSeconds || ACTION_SECONDS;
    this.port = api.runtime.connectNative(HOST);
    this.port.onMessage.addListener((m) => {
      if (m && m.event) { this.events.push(m); return; }
      if (m && (m.id === null || m.id === undefined) && m.error) {
        this.failAll(failure(m.error.code || 'error',
                             m.error.message || 'the native host refused a message'));
        return;
      }
      const w = this.waiting.get(m && m.id);
      if (!w) return;
      this.settle(m.id);
      if (m.error) w.reject(failure(m.error.code, m.error.message));
      else w.resolve(m.result);
    });
    this.port.onDisconnect.addListener((p) => {
      const why = (p && p.error && p.error.message) ||
                  (api.runtime.lastError && api.runtime.lastError.message) ||
                  'the native host ended';
      this.closed = why;
      this.failAll(failure('host_missing', why));
    });
  }
  settle(id) {
    const w = this.waiting.get(id);
    if (!w) return null;
    clearTimeout(w.timer);
    this.waiting.delete(id);
    return w;
  }
  failAll(e) {
    for (const id of [...this.waiting.keys()]) this.settle(id).reject(e);
  }
  call(method, params = {}) {
    if (this.closed) return Promise.reject(failure('host_missing', this.closed));
    return new Promise((resolve, reject) => {
      const id = this.next++;
      const seconds = ACTIONS.has(method) ? this.actionSeconds : this.callSeconds;
      const timer = setTimeout(() => {
        this.failAll(failure('timeout',
                             `the native host did not answer "${method}" in ${seconds} s`));
        this.close();
      }, seconds * 1000);
      this.waiting.set(id, { resolve, reject, timer });
      this.port.postMessage({ id, method, params });
    });
  }
  close() {
    if (!this.closed) this.closed = 'the port was closed';
    try { this.port.disconnect(); } catch (e) { /* already gone */ }
  }
}

// --- reading the tree ------------------------------------------------------------

const FIREFOX_ROOTS = {
  menu________: 'menu', toolbar_____: 'toolbar', unfiled_____: 'unfiled', mobile______: 'mobile',
};
const CHROMIUM_FOLDER_TYPES = { 'bookmarks-bar': 'toolbar', other: 'unfiled', mobile: 'mobile' };
const CHROMIUM_ROOTS = { 1: 'toolbar', 2: 'unfiled', 3: 'mobile' };

function rootName(node, depth) {
  if (depth === 0) return 'root';
  if (depth !== 1) return '';
  if (IS_FIREFOX) return FIREFOX_ROOTS[node.id] || '';
  if (node.folderType) return CHROMIUM_FOLDER_TYPES[node.folderType] || '';
  return CHROMIUM_ROOTS[node.id] || '';
}

function kindOf(node) {
  if (node.type === 'separator') return 's';
  if (node.type === 'folder' || (!node.type && node.url === undefined)) return 'f';
  // Firefox's queries are bookmarks of "place:" addresses.
  if (IS_FIREFOX && node.url && node.url.startsWith('place:')) return 'q';
  return 'b';
}

// The browser's tree as flat records, parents first:
// [id, parentId, kind, title, url, dateAdded, root].
async function readTree() {
  const [root] = await api.bookmarks.getTree();
  const out = [];
  const walk = (node, parentId, depth) => {
    out.push([node.id, parentId, kindOf(node), node.title || '', node.url || '',
              node.dateAdded || 0, rootName(node, depth)]);
    for (const child of node.children || []) walk(child, node.id, depth + 1);
  };
  walk(root, '', 0);
  return out;
}

// The bytes of `text` in UTF-8.
const utf8 = new TextEncoder();
function byteLength(text) {
  return /^[\x00-\x7f]*$/.test(text) ? text.length : utf8.encode(text).length;
}

// Sends the tree in batches bounded by count and by bytes. A node that
// does not fit one message even alone fails the sync before anything is
// sent: no part of the tree is cut or left out.
async function sendTree(port, records, o) {
  const sizes = records.map((r) => byteLength(JSON.stringify(r)) + 1);
  const big = sizes.findIndex((size) => size > o.maxMessage - ENVELOPE);
  if (big >= 0) {
    const [, , , title, url] = records[big];
    throw failure('too_large', `the bookmark "${title.slice(0, 80)}" (${url.slice(0, 40)}…) ` +
                  `takes ${sizes[big]} bytes, more than one message to the native host carries ` +
                  `(${o.maxMessage}); nothing was synced`);
  }
  await port.call('beginTree', { browser: IS_FIREFOX ? 'firefox' : 'chromium' });
  // A few batches are under way at a time, so the host reads one while the
  // next is written; the port keeps their order.
  const sending = [];
  const add = async (nodes) => {
    const call = port.call('addNodes', { nodes });
    call.catch(() => {});  // a failure is seen where the call is awaited
    sending.push(call);
    if (sending.length >= BATCHES_UNDER_WAY) await sending.shift();
  };
  let from = 0;
  let bytes = 0;
  for (let i = 0; i < records.length; i++) {
    if (i > from && (i - from >= o.batch || bytes + sizes[i] > BUDGET)) {
      await add(records.slice(from, i));
      from = i;
      bytes = 0;
    }
    bytes += sizes[i];
  }
  if (records.length > from) await add(records.slice(from));
  for (const call of sending) await call;
  return port.call('endTree');
}

// --- applying a sync -----------------------------------------------------------

// Applies the operations the host computed, pulled in pages: parents are
// created first, then updates and moves, removals last. The host hears
// which creates the browser refused (an address it does not take): it keeps
// those bookmarks on the account rather than take their absence for a
// deletion. Returns the number of operations the browser refused.
async function applyOperations(port, pageOps) {
  const refs = new Map();
  const key = (k) => (k.startsWith('@') ? refs.get(k.slice(1)) : k);
  let offset = 0;
  let created = {};
  let refusedCreates = [];
  let refused = 0;
  let total = 0;
  for (;;) {
    const page = await port.call('operations',
                                 { offset, created, refused: refusedCreates, limit: pageOps });
    created = {};
    refusedCreates = [];
    total = page.total;
    for (const op of page.ops) {
      try {
        if (op.o === 'create') {
          const d = { parentId: key(op.parent), index: op.index };
          if (op.kind === 'separator') {
            d.type = 'separator';
          } else {
            d.title = op.title;
            if (op.url) d.url = op.url;
            else if (IS_FIREFOX) d.type = 'folder';
          }
          const n = await api.bookmarks.create(d);
          refs.set(op.ref, n.id);
          created[op.ref] = n.id;
        } else if (op.o === 'update') {
          const c = { title: op.title };
          if (op.url) c.url = op.url;
          await api.bookmarks.update(key(op.id), c);
        } else if (op.o === 'move') {
          await api.bookmarks.move(key(op.id), { parentId: key(op.parent), index: op.index });
        } else if (op.o === 'remove') {
          if (op.tree) await api.bookmarks.removeTree(op.id);
          else await api.bookmarks.remove(op.id);
        }
      } catch (e) {
        refused++;
        if (op.o === 'create') refusedCreates.push(op.ref);
        console.warn('zorvane: the browser refused', op.o, e && e.message);
      }
    }
    if (page.next === null || page.next === undefined) break;
    offset = page.next;
  }
  if (Object.keys(created).length || refusedCreates.length) {
    await port.call('operations', { offset: total, created, refused: refusedCreates });
  }
  return refused;
}

// --- when it syncs ---------------------------------------------------------------

async function settings() {
  const s = await api.storage.local.get(['settings', 'profile']);
  let profile = s.profile;
  if (!profile) {
    const bytes = crypto.getRandomValues(new Uint8Array(12));
    profile = Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
    await api.storage.local.set({ profile });
  }
  return { ...(s.settings || {}), profile };
}

async function options() {
  const { options: o } = await api.storage.local.get('options');
  return { ...DEFAULTS, ...(o || {}) };
}

// The dirty mark: bookmark events since the last sync. A burst of events
// (an import fires one per bookmark) costs one write while one is under way
// and one after it, not one each.
let marking = null;
let markAgain = false;
function onBookmarkEvent() {
  if (muted) return Promise.resolve();
  if (marking) {
    markAgain = true;
    return marking;
  }
  marking = (async () => {
    do {
      markAgain = false;
      await api.storage.local.set({ lastChange: Date.now() });
      const o = await options();
      await api.alarms.create(CHANGE_ALARM, { delayInMinutes: o.changeDelaySeconds / 60 });
    } while (markAgain);
  })().finally(() => { marking = null; });
  return marking;
}

async function record(result) {
  await api.storage.local.set({ lastResult: { ...result, time: Date.now() } });
  return result;
}

// One sync, start to end. `choice` answers the mass-delete question:
// "delete" or "keep".
async function runSync(reason, choice) {
  const s = await settings();
  if (!s.user) return record({ status: 'not_configured', reason });
  const o = await options();
  const started = Date.now();
  const stored = await api.storage.local.get(['lastChange', 'syncedAt', 'applyingSince']);
  const dirty = (stored.lastChange || 0) >= (stored.syncedAt || 0);
  // After an apply that was cut short (the background stopped), the host
  // goes on with it only when the user changed nothing since.
  const edited = !stored.applyingSince || (stored.lastChange || 0) >= stored.applyingSince;
  await api.storage.local.set({ pending: { reason, choice: choice || null, since: started } });
  const port = new HostPort(o);
  // Where the time goes, for the popup's details and the benchmarks.
  const timings = {};
  let mark = Date.now();
  const lap = (name) => {
    const now = Date.now();
    timings[name] = (timings[name] || 0) + now - mark;
    mark = now;
  };
  // A tree that is read whatever the host answers is read while the host
  // starts: the browser's getTree() and the host's start each take a few
  // hundred milliseconds for a large tree, in different processes.
  const early = (dirty || choice) ? readTree() : null;
  if (early) early.catch(() => {});  // a failure is seen where it is awaited
  try {
    const info = await port.call('open', { profile: s.profile, server: s.server, user: s.user });
    lap('open');
    let r = null;
    let sent = false;
    if (!dirty && info.known && !info.first && !choice) {
      r = await port.call('sync', { unchanged: true });
      lap('sync');
      // A table that lacks some node: the tree is read after all.
      if (r.needTree) r = null;
    }
    if (!r) {
      const records = await (early || readTree());
      lap('read');
      await sendTree(port, records, o);
      lap('send');
      sent = true;
      r = await port.call('sync', { mode: choice || 'ask', edited });
      lap('sync');
    }
    if (r.question) {
      await api.storage.local.set({ question: r.question, pending: null });
      return record({ status: 'mass_delete', reason, question: r.question });
    }
    if (r.status !== 'OK') {
      await api.storage.local.set({ pending: null });
      return record({ status: r.status, reason });
    }
    let equal = true;
    let refused = 0;
    if (r.operations > 0) {
      await api.storage.local.set({ applyingSince: started });
      muted = true;
      try {
        refused = await applyOperations(port, o.pageOps);
        lap('apply');
        // Re-read: the browser must now show the synchronised tree. A change
        // the user made meanwhile makes it differ: the next sync takes it.
        await sendTree(port, await readTree(), o);
        equal = (await port.call('verify')).equal;
        lap('verify');
      } finally {
        muted = false;
      }
    }
    const done = { pending: null, question: null };
    if (equal) {
      done.syncedAt = started;
      done.applyingSince = null;
    }
    await api.storage.local.set(done);
    if (!equal) await onBookmarkEvent();
    return record({
      status: equal ? 'OK' : 'apply_incomplete', reason, version: r.version, date: r.date,
      operations: r.operations, refused, sentTree: sent, nodes: r.nodes, timings,
    });
  } catch (e) {
    await api.storage.local.set({ pending: null });
    return record({ status: e.code || 'error', message: String(e.message || e), reason });
  } finally {
    port.close();
  }
}

// Only one sync runs at a time; one asked for meanwhile runs after it.
function syncNow(reason, choice) {
  if (running) {
    if (choice) again = { reason, choice };
    else if (!again) again = { reason };
    return running.then(() => running || syncNow(reason, choice));
  }
  running = runSync(reason, choice).finally(() => {
    running = null;
    if (again) {
      const a = again;
      again = null;
      syncNow(a.reason, a.choice);
    }
  });
  return running;
}

// Calls on the native host outside a sync (the popup's account and note).
async function withHost(fn) {
  const port = new HostPort();
  try {
    return await fn(port);
  } finally {
    port.close();
  }
}

async function handleMessage(msg) {
  const s = await settings();
  switch (msg && msg.cmd) {
    case 'sync':
      if (msg.choice) await api.storage.local.set({ question: null });
      return syncNow(msg.reason || 'button', msg.choice);
    case 'setAccount': {
      const account = { profile: s.profile, server: msg.server || '', user: msg.user };
      const r = await withHost((p) => p.call('setAccount', { ...account, password: msg.password }));
      await api.storage.local.set({ settings: { server: account.server, user: account.user } });
      return { stored: r.stored, result: await syncNow('account') };
    }
    case 'state': {
      const st = await api.storage.local.get(['lastResult', 'question', 'pending', 'lastChange',
                                              'syncedAt']);
      return { settings: s, running: !!running, version: api.runtime.getManifest().version, ...st };
    }
    case 'note':
      if (!s.user) return { text: '' };
      return withHost(async (p) => {
        // The popup waits a little for a sync that has the account open,
        // not the host's full minute.
        await p.call('open', { profile: s.profile, server: s.server, user: s.user, wait: 5 });
        return p.call('note', { action: msg.action, text: msg.text });
      });
    default:
      throw new Error('unknown command');
  }
}

api.runtime.onMessage.addListener((msg, sender, sendResponse) => {
  handleMessage(msg).then(
    (r) => sendResponse({ ok: true, result: r }),
    (e) => sendResponse({ ok: false, error: String((e && e.message) || e), code: e && e.code }));
  return true;
});

for (const ev of ['onCreated', 'onRemoved', 'onChanged', 'onMoved', 'onChildrenReordered']) {
  if (api.bookmarks[ev]) api.bookmarks[ev].addListener(() => { onBookmarkEvent(); });
}

api.alarms.onAlarm.addListener((alarm) => {
  if (alarm.name === CHANGE_ALARM) syncNow('change');
  else if (alarm.name === PERIODIC_ALARM) syncNow('periodic');
});

async function ensurePeriodic() {
  const o = await options();
  const a = await api.alarms.get(PERIODIC_ALARM);
  if (!a || a.periodInMinutes !== o.periodMinutes) {
    api.alarms.create(PERIODIC_ALARM, { periodInMinutes: o.periodMinutes });
  }
}

api.runtime.onStartup.addListener(() => { syncNow('start'); });
api.runtime.onInstalled.addListener(() => { ensurePeriodic(); });

// Each time the background starts: a sync the stopped background left
// unfinished runs again.
(async () => {
  await ensurePeriodic();
  const { pending } = await api.storage.local.get('pending');
  if (pending && !running) syncNow('resume', pending.choice || undefined);
})();

globalThis.zorvane = { syncNow, readTree, handleMessage };
