// The pages' stylesheet and script, served from the binary so that nothing is fetched from
// elsewhere and the policy can forbid every inline script and style.
#include "pages.h"

namespace vyr::cld::server::web {

std::string_view stylesheet()
{
    return R"css(body { font-family: system-ui, sans-serif; margin: 0; color: #1d2329; background: #fafbfc; }
header { display: flex; gap: 1.5em; align-items: center; padding: 0.6em 1.5em; background: #24415e; color: #fff; }
header a { color: #fff; text-decoration: none; font-weight: 600; }
header form { margin-left: auto; }
main { padding: 1em 1.5em; max-width: 72em; }
h1 { font-size: 1.5em; overflow-wrap: anywhere; }
table { border-collapse: collapse; margin: 0.5em 0 1.5em; }
th, td { text-align: left; padding: 0.3em 0.8em; border-bottom: 1px solid #d6dbe0; vertical-align: top; }
td.sha256, .path { font-family: ui-monospace, monospace; font-size: 0.85em; overflow-wrap: anywhere; }
ul.tree, ul.tree ul { list-style: none; padding-left: 1.2em; }
li.file { padding: 0.15em 0; }
li.file span { margin-left: 0.8em; color: #56606b; }
#lock { padding: 0.6em 1em; background: #eef2f6; border-radius: 4px; margin: 1em 0; }
.error { color: #a11a1a; }
td.status { font-weight: 600; }
#breadcrumbs ol { list-style: none; display: flex; flex-wrap: wrap; gap: 0.3em; padding: 0; margin: 0.5em 0; }
#breadcrumbs li + li::before { content: "/"; margin-right: 0.3em; color: #56606b; }
#breadcrumbs a { color: #1f4f80; }
#folder-filter { display: flex; flex-wrap: wrap; gap: 0.6em 1.2em; align-items: center; margin: 0.8em 0; }
#entries td, #locks td { overflow-wrap: anywhere; }
#entries th a { color: inherit; }
#entries tr.folder a { font-weight: 600; }
.lock-badge { display: inline-block; padding: 0.1em 0.5em; border-radius: 3px; background: #7a2e00; color: #fff; }
.lock-badge time { color: #fff; }
td.stale { color: #a11a1a; font-weight: 600; }
nav.paging { display: flex; gap: 1.5em; margin: 0.5em 0 1.5em; }
form.break { display: inline; }
#confirm-break { display: flex; flex-direction: column; gap: 0.5em; max-width: 32em; }
)css";
}

std::string_view script()
{
    return R"js('use strict';
// Rewrites the status cells of a project's viewer updates while any of them is still moving.
(function () {
  var table = document.getElementById('updates');
  if (!table || !table.dataset.poll) {
    return;
  }
  var finals = ['Success', 'Failed', 'Cancelled'];
  function moving() {
    return Array.prototype.some.call(table.querySelectorAll('td.status'), function (cell) {
      return finals.indexOf(cell.textContent) < 0;
    });
  }
  function poll() {
    if (!moving()) {
      return;
    }
    fetch(table.dataset.poll, {credentials: 'same-origin', headers: {'Accept': 'application/json'}})
      .then(function (response) {
        if (!response.ok) {
          throw new Error('status ' + response.status);
        }
        return response.json();
      })
      .then(function (updates) {
        updates.forEach(function (update) {
          Array.prototype.forEach.call(table.querySelectorAll('tr[data-update-id]'), function (row) {
            var cell = row.querySelector('td.status');
            if (row.dataset.updateId === update.id && cell && cell.textContent !== update.status) {
              cell.textContent = update.status;
            }
          });
        });
        setTimeout(poll, 1000);
      })
      .catch(function () {
        // Signed out, or the server went away: a reload shows why.
      });
  }
  setTimeout(poll, 1000);
})();
// Filters a folder's entries as one types: asks the server for the page the form would, and
// replaces the listing with its own, leaving the address as a link to what is shown.
(function () {
  var form = document.getElementById('folder-filter');
  var listing = document.getElementById('listing');
  if (!form || !listing || !window.fetch || !window.URLSearchParams) {
    return;
  }
  var timer = null;
  var asked = 0;
  function address() {
    var params = new URLSearchParams();
    Array.prototype.forEach.call(form.elements, function (field) {
      if (!field.name || !field.value || (field.type === 'checkbox' && !field.checked)) {
        return;
      }
      params.append(field.name, field.value);
    });
    var query = params.toString();
    return form.getAttribute('action') + (query ? '?' + query : '');
  }
  function refresh() {
    var target = address();
    var mine = ++asked;
    fetch(target, {credentials: 'same-origin'})
      .then(function (response) {
        if (!response.ok) {
          throw new Error('status ' + response.status);
        }
        return response.text();
      })
      .then(function (text) {
        if (mine !== asked) {
          return; // a later filter's answer is on its way
        }
        var fresh = new DOMParser().parseFromString(text, 'text/html').getElementById('listing');
        if (fresh) {
          listing.replaceWith(fresh);
          listing = fresh;
          history.replaceState(null, '', target);
        }
      })
      .catch(function () {
        // The form still works: submitting it shows what went wrong.
      });
  }
  function later() {
    clearTimeout(timer);
    timer = setTimeout(refresh, 150);
  }
  form.addEventListener('input', later);
  form.addEventListener('change', later);
})();
)js";
}

} // namespace vyr::cld::server::web
