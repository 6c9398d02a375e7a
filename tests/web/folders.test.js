// A partition of 2,000 drawings in nested folders, as a team keeps them: Bjorn (the project's admin)
// finds one by typing part of its name, sees every lock of the project on one page, and breaks one
// only as he saw it; axe-core finds nothing to fault on these pages.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFile } from 'node:fs/promises';
import { createRequire } from 'node:module';
import * as web from './harness.js';

const require = createRequire(import.meta.url);
const axePath = require.resolve('axe-core/axe.min.js');

// Folders of Norwegian, German and French names, one of 400 files, and numbers in names that byte
// order would put "liggende 21" before "liggende 5".
function drawings() {
    const names = [];
    for (let i = 1; i <= 400; i++) {
        names.push(`Tegninger/Plan/liggende ${i}.dwg`);
    }
    const folders = ['Brücke/Längsschnitt', 'Façade/Élévations', 'Tegninger/Snitt', 'Tegninger/Detaljer/Støttemur',
        'Øvre Ålesund/Kaiområde'];
    for (let i = 0; names.length < 2000; i++) {
        names.push(`${folders[i % folders.length]}/tegning ${Math.floor(i / folders.length) + 1}.dwg`);
    }
    return names;
}

async function call(user, method, path, body) {
    const response = await fetch(`${web.base}${path}`, {
        method,
        headers: { authorization: `Bearer ${await web.token(user)}`, 'content-type': 'application/json' },
        body: body === undefined ? undefined : JSON.stringify(body),
        signal: AbortSignal.timeout(web.patience),
    });
    const text = await response.text();
    assert.ok(response.ok, `${method} ${path}: ${response.status} ${text}`);
    return text ? JSON.parse(text) : null;
}

// axe-core's findings on the page as it is.
async function axeViolations(page) {
    // Evaluated through the browser's debugging protocol, which the page's policy does not govern.
    await page.evaluate(await readFile(axePath, 'utf8'));
    const result = await page.evaluate(() => window.axe.run(document));
    return result.violations.map((violation) => `${violation.id}: ${violation.nodes.map((node) => node.target).join(', ')}`);
}

describe('a partition of 2,000 drawings', () => {
    let chromium, anna, bjorn, bridge, names, locked;

    before(async () => {
        chromium = await web.launch();
        anna = await web.workingFolder('folders', 'anna');
        bridge = await web.project(anna, 'Fjord bridge', 'P-300', { bjorn: 'admin', anna: 'member' });
        await anna.write('seed.dwg', 'a drawing\n');
        await anna.vyr('upload', 'seed.dwg');
        const seed = await web.file('anna', bridge.spaceId, 'seed.dwg');
        names = drawings();
        // The same content under every name: one upload, 2,000 commits, a few at a time.
        for (let i = 0; i < names.length; i += 20) {
            await Promise.all(names.slice(i, i + 20).map((name) => call('anna', 'POST',
                `/v1/spaces/${bridge.spaceId}/commits`,
                { name, base: null, blob: seed.blob, size: seed.size, unlockAfter: false, checkOnly: false })));
        }
        // 24 locks, Anna's, across the folders.
        locked = names.filter((_, i) => i % 83 === 7).slice(0, 24);
        for (const name of locked) {
            await call('anna', 'PUT', `/v1/spaces/${bridge.spaceId}/lock?name=${encodeURIComponent(name)}`);
        }
        bjorn = await web.openPage(chromium.browser, 'bjorn');
        await web.signIn(bjorn);
    });
    after(() => web.finish(chromium, [bjorn]));

    test('the top shows folders with counts; a filter typed finds one drawing among 2,000', async () => {
        await bjorn.goto(`${web.base}/spaces/${bridge.spaceId}`);
        assert.match(await web.text(bjorn, '#counts'), /^2001 files in this folder and below/);
        const folders = await bjorn.$$eval('#entries tr.folder', (rows) => rows.map((row) => row.innerText.replace(/\s+/g, ' ').trim()));
        assert.deepEqual(folders.map((row) => row.split('/')[0]), ['Brücke', 'Façade', 'Øvre Ålesund', 'Tegninger']);
        assert.match(folders[3], /^Tegninger\/ 1040 files/);

        // Typed, not submitted: the page's script asks as the text changes.
        await bjorn.type('#filter', 'LIGGENDE 21.');
        await bjorn.waitForFunction(() => document.querySelectorAll('#entries tr.file').length === 1 &&
            !document.querySelector('#entries tr.folder'));
        const found = await bjorn.$eval('#entries tr.file', (row) => row.dataset.path);
        assert.equal(found, 'Tegninger/Plan/liggende 21.dwg');
        assert.equal(new URL(bjorn.url()).searchParams.get('contains'), 'LIGGENDE 21.');
        await web.shot(bjorn, '20-folder-filtered');
        // The address is a link to what is shown.
        await bjorn.reload();
        assert.equal(await bjorn.$eval('#entries tr.file', (row) => row.dataset.path), found);
        await web.follow(bjorn, '#entries tr.file a');
        assert.equal(await web.text(bjorn, 'h1'), 'liggende 21.dwg');
    });

    test('a folder of 400 reads in natural order, a page at a time, with breadcrumbs and sortable columns', async () => {
        await bjorn.goto(`${web.base}/spaces/${bridge.spaceId}?path=${encodeURIComponent('Tegninger/Plan')}`);
        assert.deepEqual(await bjorn.$$eval('#breadcrumbs li', (items) => items.map((item) => item.textContent)),
            ['Drawings', 'Tegninger', 'Plan']);
        const first = await bjorn.$$eval('#entries tr.file', (rows) => rows.slice(0, 3).map((row) => row.dataset.path));
        assert.deepEqual(first, ['Tegninger/Plan/liggende 1.dwg', 'Tegninger/Plan/liggende 2.dwg', 'Tegninger/Plan/liggende 3.dwg']);
        assert.equal(await bjorn.$$eval('#entries tr.file', (rows) => rows.length), 200);
        assert.match(await web.text(bjorn, '#summary'), /^Entries 1–200 of 400\./);
        await web.shot(bjorn, '21-folder-page');
        await web.follow(bjorn, 'a[rel="next"]');
        assert.equal(await bjorn.$eval('#entries tr.file', (row) => row.dataset.path), 'Tegninger/Plan/liggende 201.dwg');
        await web.follow(bjorn, 'th a[data-sort="name"]');
        assert.equal(await bjorn.$eval('th[aria-sort]', (th) => th.getAttribute('aria-sort')), 'descending');
        assert.equal(await bjorn.$eval('#entries tr.file', (row) => row.dataset.path), 'Tegninger/Plan/liggende 400.dwg');
        // A lock shows on its row, with its holder and since when: in the reader's zone and
        // language, the UTC time in the element.
        await bjorn.goto(`${web.base}/spaces/${bridge.spaceId}?path=Tegninger%2FPlan&locked=true`);
        const badges = await bjorn.$$eval('#entries tr.file .lock-badge', (spans) => spans.map((span) =>
            ({ text: span.innerText, utc: span.querySelector('time').getAttribute('datetime') })));
        assert.ok(badges.length > 0);
        for (const badge of badges) {
            assert.match(badge.text, /^Locked by Anna Berg since \S.*\b\d{4}\b/);
            assert.match(badge.utc, /^\d{4}-\d\d-\d\dT/);
        }
        await web.shot(bjorn, '21-folder-locked');
        assert.deepEqual(await axeViolations(bjorn), []);
    });

    test('the Locks page lists all 24 locks with holder and age', async () => {
        await bjorn.goto(`${web.base}/projects/${bridge.id}/locks`);
        const rows = await bjorn.$$eval('#locks tbody tr', (trs) => trs.map((tr) => ({
            path: tr.dataset.path,
            holder: tr.querySelector('.holder').innerText,
            age: tr.querySelector('.age').innerText,
            breaks: tr.querySelector('form.break') !== null,
        })));
        assert.deepEqual(rows.map((row) => row.path).sort(), [...locked].sort());
        for (const row of rows) {
            assert.equal(row.holder, 'Anna Berg');
            assert.match(row.age, /^\d+ min$/);
            assert.ok(row.breaks, `an admin may break ${row.path}`);
        }
        assert.match(await web.text(bjorn, '#lock-count'), /^24 locked files/);
        await web.shot(bjorn, '22-locks');
        assert.deepEqual(await axeViolations(bjorn), []);
    });

    test('a break from a page that shows an old lock is refused, naming who holds it now', async () => {
        const name = locked[0];
        const id = (await web.file('anna', bridge.spaceId, name)).id;
        await bjorn.goto(`${web.base}/projects/${bridge.id}/locks`);
        await web.submit(bjorn, `#break-${id}`);
        assert.match(await web.text(bjorn, '#break-question'), /^Anna Berg has held the lock on /);
        assert.deepEqual(await axeViolations(bjorn), []);
        // Meanwhile the lock changes hands: Anna lets it go and Bjorn's own client takes it.
        await call('anna', 'DELETE', `/v1/spaces/${bridge.spaceId}/lock?name=${encodeURIComponent(name)}`);
        await call('bjorn', 'PUT', `/v1/spaces/${bridge.spaceId}/lock?name=${encodeURIComponent(name)}`);
        await bjorn.type('#reason', 'Anna is away');
        const refused = await web.submit(bjorn, '#confirm-break');
        assert.equal(refused.status(), 409);
        assert.match(await web.text(bjorn, '#stale-break'), /is now held by Bjorn Dahl since /);
        await web.shot(bjorn, '23-stale-break');
        assert.equal((await web.file('anna', bridge.spaceId, name)).lock.holder.id, 'bjorn');

        // From a page that shows the lock as it is, with a reason, the break goes through and
        // Anna's event carries the reason.
        // Anna's feed holds an event of each of her 2,000 uploads: taken first, so that the break's is
        // the one left.
        for (let round = 0; round < 50 && (await anna.vyr('events')).events.length > 0; round++) {
            // taken
        }
        const other = locked[1];
        const otherId = (await web.file('anna', bridge.spaceId, other)).id;
        await bjorn.goto(`${web.base}/files/${otherId}`);
        await web.submit(bjorn, '#break-lock');
        await bjorn.type('#reason', 'Site visit today');
        await web.submit(bjorn, '#confirm-break');
        assert.equal(new URL(bjorn.url()).pathname, `/files/${otherId}`);
        assert.equal(await web.text(bjorn, '#lock'), 'Not locked');
        const { events } = await anna.vyr('events');
        assert.ok(events.some((event) => event.type === 'Unlocked' && event.status === 409 &&
            // vyr-cld shows the line breaks as \x0A.
            event.responseId.startsWith(other) && event.responseId.endsWith('bjorn@example.org\\x0ASite visit today')),
        JSON.stringify(events));
    });
});
