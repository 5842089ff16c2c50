// The popup: the account, "Sync now", the last result (localised from the
// engine's status keys), the mass-delete question, the version and the note.
'use strict';

const api = globalThis.browser ?? globalThis.chrome;
const t = (key, subs) => api.i18n.getMessage(key, subs) || key;
const $ = (id) => document.getElementById(id);

async function ask(msg) {
  const r = await api.runtime.sendMessage(msg);
  if (!r || !r.ok) throw new Error((r && r.error) || 'no answer');
  return r.result;
}

// "zorvane.kernel.status.connect_failed" -> "status_connect_failed".
function statusText(status) {
  const key = 'status_' + String(status || 'none').replace(/^zorvane\.kernel\.status\./, '')
    .replace(/[^A-Za-z0-9_]/g, '_');
  return api.i18n.getMessage(key) || t('status_unknown', [String(status)]);
}

function number(n) { return Number(n).toLocaleString(api.i18n.getUILanguage()); }

async function render() {
  const s = await ask({ cmd: 'state' });
  const r = s.lastResult;
  const status = $('status');
  status.textContent = s.running ? t('status_running')
    : r ? statusText(r.status) : statusText(s.settings.user ? 'never' : 'not_configured');
  status.className = 'status ' + (r && r.status === 'OK' ? 'ok' : r ? 'bad' : '');
  const parts = [];
  if (r && r.time) parts.push(t('last_sync_at', [new Date(r.time).toLocaleString()]));
  if (r && r.version !== undefined) parts.push(t('account_version', [String(r.version)]));
  if (r && r.date) parts.push(t('server_date', [r.date]));
  if (r && r.message && r.status !== 'OK') parts.push(r.message);
  $('detail').textContent = parts.join(' · ');
  const q = s.question;
  $('question').hidden = !q;
  if (q) $('question-text').textContent = t('question_text', [number(q.removed), number(q.total)]);
  if (s.settings.user) {
    $('server').value = s.settings.server || '';
    $('user').value = s.settings.user;
    $('password').placeholder = t('password_kept');
    $('password').required = false;
  } else {
    $('account-box').open = true;
  }
  $('version').textContent = t('version_line', [s.version, s.settings.user
    ? `${s.settings.user}@${s.settings.server || 'localhost:8080'}` : '—']);
  return s;
}

async function run(msg) {
  $('sync').disabled = true;
  $('status').textContent = t('status_running');
  try {
    await ask(msg);
  } catch (e) {
    $('detail').textContent = e.message;
  }
  $('sync').disabled = false;
  await render();
}

document.querySelectorAll('[data-i18n]').forEach((e) => { e.textContent = t(e.dataset.i18n); });
$('sync').addEventListener('click', () => run({ cmd: 'sync', reason: 'button' }));
$('delete').addEventListener('click', () => run({ cmd: 'sync', choice: 'delete' }));
$('keep').addEventListener('click', () => run({ cmd: 'sync', choice: 'keep' }));
$('account').addEventListener('submit', (ev) => {
  ev.preventDefault();
  const password = $('password').value;
  if (!password) return;
  $('password').value = '';
  run({ cmd: 'setAccount', server: $('server').value.trim(), user: $('user').value.trim(), password });
});
$('save-note').addEventListener('click', async () => {
  await ask({ cmd: 'note', action: 'set', text: $('note').value });
});

render().then(async (s) => {
  if (!s.settings.user) return;
  try {
    $('note').value = (await ask({ cmd: 'note', action: 'get' })).text || '';
  } catch (e) { /* the note is not essential */ }
});
