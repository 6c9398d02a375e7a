// Every page at a laptop's and a phone's width, with long Norwegian, German and French names: no
// page wider than the phone, Status and Download on screen, no accessibility violation that
// axe-core finds; and a deep link, as the desktop host opens one, that survives signing in.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFile } from 'node:fs/promises';
import { createRequire } from 'node:module';
import * as web from './harness.js';

const axeSource = await readFile(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');

const phone = { width: 390, height: 844, deviceScaleFactor: 1, isMobile: true, hasTouch: true };
const laptop = { width: 1280, height: 800 };
const deep = 'Tegninger/Bæresystem/Fundamenter_og_kjellervegger/fundamentplan_akse_A-F_revisjon_liggende_21.dwg';

// The accessibility violations axe-core finds in the page as it is now, by rule and element.
async function violations(page) {
    // Evaluated through the debugging protocol, which the page's policy does not govern: the page
    // itself still loads nothing but its own script.
    await page.evaluate(axeSource);
    const result = await page.evaluate(async () => window.axe.run(document, { resultTypes: ['violations'] }));
    return result.violations.map((violation) => `${violation.id}: ${violation.nodes.map((node) => node.target).join(', ')}`);
}

// How far the page reaches past the viewport's right edge, and which elements do.
async function overflow(page) {
    return page.evaluate(() => {
        const width = document.documentElement.clientWidth;
        const wide = [...document.querySelectorAll('body *')]
            .filter((element) => element.getBoundingClientRect().right > width + 0.5)
            .map((element) => `${element.tagName.toLowerCase()}${element.id ? `#${element.id}` : ''}.${element.className}`);
        return { by: document.documentElement.scrollWidth - width, wide: wide.slice(0, 5) };
    });
}

// Whether every element the selector finds lies within the viewport's width.
async function onScreen(page, selector) {
    return page.$$eval(selector, (elements) => elements.length > 0 && elements.every((element) => {
        const box = element.getBoundingClientRect();
        return box.width > 0 && box.left >= 0 && box.right <= document.documentElement.clientWidth;
    }));
}

describe('every page, on a laptop and on a phone', () => {
    let chromium, anna, bjorn, page, bridge, addresses;

    before(async () => {
        chromium = await web.launch();
        anna = await web.workingFolder('everywhere', 'anna');
        bjorn = await web.workingFolder('everywhere', 'bjorn');
        bridge = await web.project(anna, 'Fjordbrua Sør – Überführung Rue de l\'Église', 'NO-4021-ÆØÅ', { bjorn: 'member' });
        await bjorn.vyr('use', bridge.id, bridge.spaceId);
        const { mkdir } = await import('node:fs/promises');
        const { join, dirname } = await import('node:path');
        for (const name of [deep, 'Zeichnungen/Längsschnitt_Überbau_Achse_10-20.dwg', 'Plans/Élévation_façade_nord.dwg',
            'notes.txt']) {
            await mkdir(join(anna.folder, dirname(name)), { recursive: true });
            await anna.write(name, `${name}\n`.repeat(40));
            await anna.vyr('upload', name);
        }
        // A file with a history: revisions, a rename, a lock Anna broke, a viewer update.
        await anna.write('notes.txt', 'second\n');
        await anna.vyr('upload', 'notes.txt');
        await anna.vyr('mv', 'notes.txt', 'Merknader_til_byggemøte_nummer_14.txt');
        await bjorn.vyr('download', 'Merknader_til_byggemøte_nummer_14.txt');
        await bjorn.vyr('lock', 'Merknader_til_byggemøte_nummer_14.txt');
        await anna.vyr('unlock', '--force', 'Merknader_til_byggemøte_nummer_14.txt');
        await bjorn.vyr('lock', 'Plans/Élévation_façade_nord.dwg');
        await anna.vyr('viewer', '3d', deep, 'Plans/Élévation_façade_nord.dwg', '--epsg', '25832',
            '--description', 'Fundamenter og fasade, tredje leveranse', '--logical-id', 'fjordbrua-sor-3d');
        const file = async (name) => (await web.file('anna', bridge.spaceId, name)).id;
        const deepId = await file(deep);
        const renamedId = await file('Merknader_til_byggemøte_nummer_14.txt');
        addresses = [
            { address: '/projects', name: 'projects' },
            { address: `/projects/${bridge.id}`, name: 'project' },
            { address: `/spaces/${bridge.spaceId}`, name: 'space' },
            { address: `/files/${deepId}`, name: 'file', visible: ['a.download', 'td.sha256 button.copy'] },
            { address: `/files/${renamedId}`, name: 'renamed-file', visible: ['a.download'] },
            { address: `/projects/${bridge.id}/updates`, name: 'updates', visible: ['td.status'] },
            { address: `/projects/${bridge.id}/activity`, name: 'project-activity' },
            { address: '/activity', name: 'activity' },
            { address: '/events', name: 'events' },
        ];
        page = await web.openPage(chromium.browser, 'anna');
    });
    after(() => web.finish(chromium, [page]));

    test('a file\'s address opened before signing in is where signing in leads', async () => {
        const target = addresses.find((entry) => entry.name === 'file').address;
        await page.goto(`${web.base}${target}`);
        assert.equal(new URL(page.url()).pathname, '/signin');
        assert.equal(new URL(page.url()).searchParams.get('next'), target);
        assert.equal((await web.signInHere(page)).pathname, target);
        assert.match(await web.text(page, 'h1'), /fundamentplan_akse_A-F_revisjon_liggende_21\.dwg/);
        await web.shot(page, '20-deep-link-after-sign-in');
    });

    for (const [label, viewport] of [['laptop', laptop], ['phone', phone]]) {
        test(`on a ${label}, every page fits the width and axe-core finds no violation`, async () => {
            await page.setViewport(viewport);
            for (const { address, name, visible = [] } of addresses) {
                const response = await page.goto(`${web.base}${address}`);
                assert.equal(response.status(), 200, address);
                const wide = await overflow(page);
                assert.ok(wide.by <= 0, `${name} is ${wide.by} px too wide at ${viewport.width} px: ${wide.wide}`);
                for (const selector of visible) {
                    assert.ok(await onScreen(page, selector), `${selector} on screen on ${name} at ${viewport.width} px`);
                }
                assert.deepEqual(await violations(page), [], `axe-core on ${name} at ${viewport.width} px`);
                await web.shot(page, `2${label === 'phone' ? 2 : 1}-${label}-${name}`);
            }
            // The sign-in page, for nobody signed in.
            const stranger = await web.openPage(chromium.browser, 'anna');
            await stranger.setViewport(viewport);
            await stranger.goto(`${web.base}/signin`);
            assert.ok((await overflow(stranger)).by <= 0, `sign-in at ${viewport.width} px`);
            assert.deepEqual(await violations(stranger), [], `axe-core on sign-in at ${viewport.width} px`);
            await stranger.browserContext().close();
            await page.setViewport(laptop);
        });
    }

    test('the history tells who broke a lock, in words with links, and times in the reader\'s zone', async () => {
        await page.goto(`${web.base}/projects/${bridge.id}/activity`);
        const entries = await page.$$eval('#activity li', (items) => items.map((item) => ({
            kind: item.dataset.kind,
            text: item.innerText.replace(/\s+/g, ' '),
            links: [...item.querySelectorAll('a')].map((a) => new URL(a.href).pathname),
            time: item.querySelector('time')?.getAttribute('title'),
        })));
        const broke = entries.find((entry) => entry.kind === 'broke-lock');
        assert.ok(broke, JSON.stringify(entries));
        assert.match(broke.text, /^You broke Bjorn Dahl’s lock on Merknader_til_byggemøte_nummer_14\.txt in Drawings of Fjordbrua/);
        assert.deepEqual(broke.links.map((path) => path.split('/')[1]), ['files', 'spaces', 'projects']);
        assert.match(broke.time, /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$/);
        assert.ok(entries.some((entry) => entry.kind === 'renamed' && /renamed notes\.txt to Merknader/.test(entry.text)));
        assert.match(await web.text(page, '#activity-count'), /^Entries 1 to \d+ of \d+, newest first\.$/);
        // The copy control puts the whole SHA-256 on the clipboard.
        const target = addresses.find((entry) => entry.name === 'file').address;
        await page.browserContext().overridePermissions(web.base, ['clipboard-read', 'clipboard-write', 'clipboard-sanitized-write']);
        await page.goto(`${web.base}${target}`);
        const whole = await page.$eval('td.sha256 button.copy', (button) => button.dataset.copy);
        await page.click('td.sha256 button.copy');
        await page.waitForFunction(() => document.querySelector('td.sha256 button.copy').textContent === 'Copied');
        assert.equal(await page.evaluate(() => navigator.clipboard.readText()), whole);
    });
});
