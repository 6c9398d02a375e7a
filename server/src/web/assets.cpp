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
)js";
}

} // namespace vyr::cld::server::web
